// SPDX-License-Identifier: GPL-3.0-or-later
// Login name of the effective user, from the password database.
#include "platform/username.h"

#include <QFile>
#include <cerrno>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::size_t kFirstBufferSize = 1024;
constexpr std::size_t kLargestBufferSize = 1 << 20;

std::size_t initialBufferSize()
{
    const long suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
    return suggested > 0 ? static_cast<std::size_t>(suggested) : kFirstBufferSize;
}

} // namespace

QString effectiveUserName()
{
    const uid_t uid = geteuid();
    std::vector<char> buffer(initialBufferSize());
    for (;;) {
        passwd entry{};
        passwd *found = nullptr;
        const int rc = getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found);
        if (rc == ERANGE && buffer.size() < kLargestBufferSize) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (rc != 0 || found == nullptr || found->pw_name == nullptr)
            return QString();
        return QFile::decodeName(found->pw_name);
    }
}
