// SPDX-License-Identifier: GPL-3.0-or-later
// busybox httpd in a lab host: a download of random bytes and a page that names the caller.
#include "tests/lab/webserver.h"

#include "tests/lab/lab.h"
#include "tests/lab/scratchdir.h"

#include <QCryptographicHash>
#include <QRandomGenerator>

namespace {

const char *kPeerScript = R"(#!/bin/sh
printf 'Content-Type: text/plain\r\n\r\n%s\n' "$REMOTE_ADDR"
)";

} // namespace

WebServer::WebServer(Lab &lab, const ScratchDir &dir)
    : m_lab(lab)
    , m_dir(dir)
{
}

bool WebServer::start(const QString &host, const QString &address, int blobSize)
{
    if (blobSize > 0) {
        QByteArray blob(blobSize, '\0');
        QRandomGenerator::global()->generate(reinterpret_cast<quint32 *>(blob.data()),
                                             reinterpret_cast<quint32 *>(blob.data()) + blob.size() / 4);
        m_blobSha = QCryptographicHash::hash(blob, QCryptographicHash::Sha256).toHex();
        if (!m_dir.write("www/blob", blob))
            return false;
    }
    if (!m_dir.write("www/cgi-bin/peer", kPeerScript, true))
        return false;
    m_lab.start(host, {"busybox", "httpd", "-f", "-p", address + ":80", "-h", m_dir.path("www")});
    const QString local = address == QLatin1String("0.0.0.0") ? QStringLiteral("127.0.0.1") : address;
    const Lab::Result page = m_lab.run(host, {"curl", "-s", "--retry", "5", "--retry-connrefused", "--retry-delay",
                                              "1", "-o", "/dev/null", "-w", "%{http_code}",
                                              "http://" + local + "/cgi-bin/peer"});
    return page.out == "200";
}
