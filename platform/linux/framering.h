// SPDX-License-Identifier: GPL-3.0-or-later
// A kernel ring buffer (BPF_MAP_TYPE_RINGBUF) that a tc program fills with whole frames.
#pragma once

#include "engine/packetbuffer.h"
#include "platform/linux/ownedfd.h"

#include <cstddef>
#include <cstdint>

// The producer is the adapter hook program: per frame it reserves one record of
// kRecordPayloadSize bytes, writes the frame length into the first word and the frame
// bytes after it, and submits it. This object is the only consumer. Both ends live in
// memory shared with the kernel: no system call per frame. The map descriptor is
// pollable (readable while records wait). Everything is released with the object.
//
// The ring also has a spill word (a one-element array map, shared memory as well): the
// program raises it when it finds the ring full, and while it is up sends every frame to
// the queue's TAP instead, so that frames stay in order behind the overflow. The consumer
// lowers it once it has read the ring and the TAP empty (see AdapterPort::readQueue).
class FrameRing
{
public:
    static constexpr std::uint32_t kLengthWordSize = 4;
    static constexpr std::uint32_t kRecordPayloadSize = kLengthWordSize + kMaxFrameSize;
    static constexpr std::size_t kDefaultSize = 4u << 20;

    // `size`: a power of two number of pages. Check isValid(); a refusal (no CAP_BPF, a
    // kernel without ring buffers) is logged once by the caller.
    explicit FrameRing(std::size_t size = kDefaultSize);
    ~FrameRing();
    FrameRing(const FrameRing &) = delete;
    FrameRing &operator=(const FrameRing &) = delete;

    bool isValid() const { return m_data != nullptr && m_spillWord != nullptr; }
    int fd() const { return m_map.get(); }
    int spillFd() const { return m_spill.get(); }

    // The program raised the spill word: frames go to the TAP until endSpill().
    bool spilling() const;
    // Lowers the spill word; frames go to the ring again. Call it only with the TAP read empty.
    void endSpill();
    // The kernel's reason when the ring could not be made.
    int error() const { return m_error; }

    // Copies the oldest frame into `buffer` (length and frame bytes) and frees its record.
    // False at once when no complete record waits.
    bool read(PacketBuffer &buffer);
    // Discards every complete record.
    void drain();

private:
    bool next(PacketBuffer *buffer);
    void release(std::uint64_t consumer);
    bool makeSpillWord();

    OwnedFd m_map;
    OwnedFd m_spill;
    std::uint32_t *m_spillWord = nullptr; // mapped page of the spill array's one value
    std::size_t m_pageSize = 0;
    std::size_t m_size = 0;
    void *m_consumerPage = nullptr;      // read-write: the consumer position
    void *m_producerArea = nullptr;      // read-only: producer position page, then the data twice
    const std::uint8_t *m_data = nullptr;
    std::uint64_t m_consumer = 0;        // our copy of the consumer position
    bool m_unfenced = false;             // a position was published without the full fence yet
    int m_error = 0;
};
