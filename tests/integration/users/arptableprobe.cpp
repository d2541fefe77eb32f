// SPDX-License-Identifier: GPL-3.0-or-later
// Resolves each address given on the command line with ARPTable::macForAddress and prints
// one line per address: the address, the MAC in hex ("-" when empty) and the time taken in ms.
#include "engine/arptable.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QTextStream>

int main(int argc, char **argv)
{
    QTextStream out(stdout);
    for (int i = 1; i < argc; ++i) {
        const QString text = QString::fromLocal8Bit(argv[i]);
        QElapsedTimer elapsed;
        elapsed.start();
        const QByteArray mac = ARPTable::macForAddress(QHostAddress(text));
        out << text << ' ' << (mac.isEmpty() ? QByteArray("-") : mac.toHex()) << ' '
            << elapsed.elapsed() << '\n';
    }
    return 0;
}
