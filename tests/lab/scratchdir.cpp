// SPDX-License-Identifier: GPL-3.0-or-later
// A temporary folder for a test's scripts, configuration files and downloads.
#include "tests/lab/scratchdir.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

bool ScratchDir::write(const QString &name, const QByteArray &content, bool executable) const
{
    QFile file(path(name));
    if (!QDir().mkpath(QFileInfo(file).path()) || !file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const bool whole = file.write(content) == content.size();
    file.close();
    if (executable)
        return whole && file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return whole;
}

QByteArray ScratchDir::sha256(const QString &name) const
{
    QFile file(path(name));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&file);
    return hash.result().toHex();
}
