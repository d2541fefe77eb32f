// SPDX-License-Identifier: GPL-3.0-or-later
// The DHCP option codec (RFC 2132 section 2 layout).
#include "engine/dhcpoptions.h"

#include "engine/byteview.h"

#include <QList>
#include <algorithm>

namespace DhcpOptionCodec {

DhcpOptions parse(const QByteArray &bytes)
{
    QByteArray copy = bytes;
    const ByteView view = ByteView::of(copy);
    DhcpOptions options;
    std::size_t position = 0;
    while (view.contains(position, 1)) {
        const quint8 code = view.u8(position);
        if (code == Dhcp::kOptionEnd || !view.contains(position + 1, 1))
            break;
        const std::size_t length = view.u8(position + 1);
        const ByteView value = view.slice(position + 2, length);
        if (value.isNull())
            break;
        options.insert(code, QByteArray(reinterpret_cast<const char *>(value.data()),
                                        int(value.size())));
        position += 2 + length;
    }
    return options;
}

QByteArray build(const DhcpOptions &options)
{
    QList<quint8> codes = options.keys();
    std::sort(codes.begin(), codes.end());
    QByteArray bytes;
    for (const quint8 code : codes) {
        const QByteArray &value = options[code];
        if (code == Dhcp::kOptionEnd || value.size() > 255)
            continue;
        bytes.append(char(code));
        bytes.append(char(value.size()));
        bytes.append(value);
    }
    bytes.append(char(Dhcp::kOptionEnd));
    return bytes;
}

} // namespace DhcpOptionCodec
