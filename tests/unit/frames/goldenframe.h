// SPDX-License-Identifier: GPL-3.0-or-later
// Golden frames for the frame tests: hex text files under tests/data/frames.
#pragma once

#include "engine/byteview.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTest>
#include <vector>

// One frame per file: hex bytes separated by white space, lines starting with '#' are notes.
inline QByteArray goldenFrame(const QString &name)
{
    QFile file(QStringLiteral(TARNWICK_TEST_DATA "/frames/") + name + QStringLiteral(".hex"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        qWarning("cannot open golden frame %s", qPrintable(file.fileName()));
        return {};
    }
    QByteArray hex;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (!line.startsWith('#'))
            hex += line;
    }
    return QByteArray::fromHex(hex);
}

// The frame in a heap block of exactly its size, so that AddressSanitizer reports any read
// or write one byte past its end (a QByteArray keeps spare room behind its data).
class ExactFrame
{
public:
    explicit ExactFrame(const QByteArray &bytes)
        : m_bytes(bytes.begin(), bytes.end())
    {
        m_bytes.shrink_to_fit();
    }
    ByteView view() { return ByteView(m_bytes.data(), m_bytes.size()); }
    QByteArray toByteArray() const
    {
        return QByteArray(reinterpret_cast<const char *>(m_bytes.data()), int(m_bytes.size()));
    }

private:
    std::vector<quint8> m_bytes;
};
