// SPDX-License-Identifier: GPL-3.0-or-later
// A file descriptor owned by one object and closed with it.
#pragma once

#include <unistd.h>
#include <utility>

class OwnedFd
{
public:
    OwnedFd() = default;
    explicit OwnedFd(int fd) : m_fd(fd) {}
    ~OwnedFd() { reset(); }
    OwnedFd(OwnedFd &&other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    OwnedFd &operator=(OwnedFd &&other) noexcept
    {
        if (this != &other) {
            reset();
            m_fd = std::exchange(other.m_fd, -1);
        }
        return *this;
    }
    OwnedFd(const OwnedFd &) = delete;
    OwnedFd &operator=(const OwnedFd &) = delete;

    int get() const { return m_fd; }
    bool isValid() const { return m_fd >= 0; }
    void reset()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd = -1;
};
