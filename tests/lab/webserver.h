// SPDX-License-Identifier: GPL-3.0-or-later
// busybox httpd in a lab host: a download of random bytes and a page that names the caller.
#pragma once

#include <QByteArray>
#include <QString>

class Lab;
class ScratchDir;

// Serves the folder "www" of a scratch folder: /blob, random bytes of the size asked for
// (none when 0), and /cgi-bin/peer, which answers with the address the request came from,
// so a test sees which source a translation gave its client.
class WebServer
{
public:
    WebServer(Lab &lab, const ScratchDir &dir);

    // Writes the files and starts httpd in `host` on `address` port 80 (0.0.0.0: every
    // address of the host). True once the peer page answers inside the host.
    bool start(const QString &host, const QString &address, int blobSize = 0);
    // The SHA-256 of /blob in hex; empty without one.
    QByteArray blobSha() const { return m_blobSha; }

private:
    Lab &m_lab;
    const ScratchDir &m_dir;
    QByteArray m_blobSha;
};
