// SPDX-License-Identifier: GPL-3.0-or-later
// A temporary folder for a test's scripts, configuration files and downloads.
#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// Removed with everything in it when the object goes. The peers in lab hosts see the same
// files: `ip netns exec` changes the network namespace only.
class ScratchDir
{
public:
    ScratchDir() = default;

    bool isValid() const { return m_dir.isValid(); }
    // The full path of `name` (which may hold sub-folders) inside the folder.
    QString path(const QString &name) const { return m_dir.filePath(name); }
    QString root() const { return m_dir.path(); }

    // Writes `content` to `name`, making its folders; an executable file is the owner's
    // only. False when the file could not be written whole.
    bool write(const QString &name, const QByteArray &content, bool executable = false) const;
    // The SHA-256 of the file, in hex; empty when it cannot be read.
    QByteArray sha256(const QString &name) const;

private:
    QTemporaryDir m_dir;
};
