// SPDX-License-Identifier: GPL-3.0-or-later
// DnsQuery: an A query for one name and the addresses of its answer.
#include "dnsquery.h"

#include <QHostAddress>

namespace {

constexpr int kHeaderSize = 12;
constexpr quint16 kTypeA = 1;
constexpr quint16 kClassIn = 1;
constexpr quint16 kFlagResponse = 0x8000;
constexpr quint16 kRcodeMask = 0x000F;
constexpr quint16 kRecursionDesired = 0x0100;

void appendWord(QByteArray &out, quint16 value)
{
    out.append(char(value >> 8));
    out.append(char(value & 0xFF));
}

} // namespace

DnsQuery::DnsQuery(quint16 id, const QByteArray &name)
    : m_id(id)
    , m_name(name)
{
}

QByteArray DnsQuery::datagram() const
{
    QByteArray out;
    appendWord(out, m_id);
    appendWord(out, kRecursionDesired);
    appendWord(out, 1); // one question
    appendWord(out, 0);
    appendWord(out, 0);
    appendWord(out, 0);
    for (const QByteArray &label : m_name.split('.')) {
        out.append(char(label.size()));
        out.append(label);
    }
    out.append('\0');
    appendWord(out, kTypeA);
    appendWord(out, kClassIn);
    return out;
}

quint16 DnsQuery::word(const QByteArray &message, int at)
{
    return quint16((quint8(message[at]) << 8) | quint8(message[at + 1]));
}

int DnsQuery::skipName(const QByteArray &message, int at)
{
    while (at < message.size()) {
        const quint8 length = quint8(message[at]);
        if (length == 0)
            return at + 1;
        if ((length & 0xC0) == 0xC0) // a pointer ends the name (RFC 1035 section 4.1.4)
            return at + 2 <= message.size() ? at + 2 : -1;
        at += 1 + length;
    }
    return -1;
}

QStringList DnsQuery::addresses(const QByteArray &answer) const
{
    if (answer.size() < kHeaderSize || word(answer, 0) != m_id)
        return {};
    const quint16 flags = word(answer, 2);
    if (!(flags & kFlagResponse) || (flags & kRcodeMask) != 0)
        return {};
    int at = kHeaderSize;
    for (int q = word(answer, 4); q > 0; --q) {
        at = skipName(answer, at);
        if (at < 0 || at + 4 > answer.size())
            return {};
        at += 4;
    }
    QStringList found;
    for (int a = word(answer, 6); a > 0; --a) {
        at = skipName(answer, at);
        if (at < 0 || at + 10 > answer.size())
            return {};
        const quint16 type = word(answer, at);
        const int dataLength = word(answer, at + 8);
        at += 10;
        if (at + dataLength > answer.size())
            return {};
        if (type == kTypeA && dataLength == 4)
            found << QHostAddress(quint32(word(answer, at)) << 16 | word(answer, at + 2)).toString();
        at += dataLength;
    }
    return found;
}
