// SPDX-License-Identifier: GPL-3.0-or-later
// DnsQuery: the one DNS exchange the end-to-end test makes by hand, an A query and its answer.
#pragma once

#include <QByteArray>
#include <QStringList>

// Wire format of RFC 1035 section 4.1: a 12-byte header, the question (labels, type, class)
// and the answer records. Only what the test needs: a recursive A query for one name, and
// the IPv4 addresses of the A records in an answer that carries the query's identifier.
// Every read of the answer is bounds-checked; a malformed answer yields no address.
class DnsQuery
{
public:
    DnsQuery(quint16 id, const QByteArray &name);

    QByteArray datagram() const;
    // The addresses of the answer's A records in dotted form, or nothing when the datagram
    // is no answer to this query, reports an error, or runs past its end.
    QStringList addresses(const QByteArray &answer) const;

private:
    // Skips a (possibly compressed) name at `at`; -1 when it runs past the end.
    static int skipName(const QByteArray &message, int at);
    static quint16 word(const QByteArray &message, int at);

    quint16 m_id;
    QByteArray m_name;
};
