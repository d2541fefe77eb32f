// SPDX-License-Identifier: GPL-3.0-or-later
// A kernel ring buffer (BPF_MAP_TYPE_RINGBUF) that a tc program fills with whole frames.
//
// How this works: the kernel maps the ring as a consumer page (ours to write: the consumer
// position), a producer page (the producer position) and the data area, which is mapped
// twice in a row so that a record crossing the end reads as one piece. Positions only grow;
// position & (size - 1) is the offset in the data area. Each record starts with an 8-byte
// kernel header: a length word whose top bits say "busy" (reserved, not yet submitted) and
// "discarded", and a page offset we do not use; the record occupies the header plus the
// length, rounded up to 8 bytes. Records become visible in the order they were reserved.
//
// Wake-up rule (what keeps the packet event from losing a frame): when the program submits
// a record, the kernel wakes the ring's pollers only if the consumer position equals that
// record's position, i.e. if the consumer had caught up with everything before it. The
// consumer therefore never decides "empty" on a stale view: after publishing a new
// consumer position it issues a full fence and looks at the producer position and the next
// header again. Either it then sees the new record (and reads it), or the record's
// producer, whose submit is a full barrier before it reads the consumer position, sees our
// position and wakes the pollers. A level-triggered epoll set holding the map descriptor
// is thus readable whenever a record waits that the consumer has not seen; a record left
// busy at an empty read is covered the same way, because its position is the consumer's.
#include "platform/linux/framering.h"

#include <linux/bpf.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace {

std::uint64_t loadAcquire(const void *at)
{
    return __atomic_load_n(static_cast<const volatile std::uint64_t *>(at), __ATOMIC_ACQUIRE);
}

std::uint32_t loadAcquire32(const void *at)
{
    return __atomic_load_n(static_cast<const volatile std::uint32_t *>(at), __ATOMIC_ACQUIRE);
}

int createMap(std::uint32_t type, std::uint32_t valueSize, std::uint32_t entries, std::uint32_t flags, const char *name)
{
    bpf_attr attr;
    std::memset(&attr, 0, sizeof attr);
    attr.map_type = type;
    attr.key_size = type == BPF_MAP_TYPE_ARRAY ? 4 : 0;
    attr.value_size = valueSize;
    attr.max_entries = entries;
    attr.map_flags = flags;
    std::strncpy(attr.map_name, name, sizeof attr.map_name - 1);
    return static_cast<int>(syscall(__NR_bpf, BPF_MAP_CREATE, &attr, sizeof attr));
}

} // namespace

FrameRing::FrameRing(std::size_t size)
    : m_pageSize(static_cast<std::size_t>(sysconf(_SC_PAGESIZE)))
    , m_size(size)
{
    if (size < m_pageSize || (size & (size - 1)) != 0 || size > (1u << 30)) {
        m_error = EINVAL;
        return;
    }
    m_map = OwnedFd(createMap(BPF_MAP_TYPE_RINGBUF, 0, static_cast<std::uint32_t>(size), 0, "twk_frames"));
    if (!m_map.isValid() || !makeSpillWord()) {
        m_error = errno;
        m_map.reset();
        return;
    }
    void *consumer = mmap(nullptr, m_pageSize, PROT_READ | PROT_WRITE, MAP_SHARED, m_map.get(), 0);
    void *producer = mmap(nullptr, m_pageSize + 2 * size, PROT_READ, MAP_SHARED, m_map.get(),
                          static_cast<off_t>(m_pageSize));
    if (consumer == MAP_FAILED || producer == MAP_FAILED) {
        m_error = errno;
        if (consumer != MAP_FAILED)
            munmap(consumer, m_pageSize);
        if (producer != MAP_FAILED)
            munmap(producer, m_pageSize + 2 * size);
        m_map.reset();
        return;
    }
    m_consumerPage = consumer;
    m_producerArea = producer;
    m_data = static_cast<const std::uint8_t *>(producer) + m_pageSize;
    m_consumer = loadAcquire(m_consumerPage);
}

bool FrameRing::makeSpillWord()
{
    m_spill = OwnedFd(createMap(BPF_MAP_TYPE_ARRAY, sizeof(std::uint32_t), 1, BPF_F_MMAPABLE, "twk_spill"));
    if (!m_spill.isValid())
        return false;
    void *word = mmap(nullptr, m_pageSize, PROT_READ | PROT_WRITE, MAP_SHARED, m_spill.get(), 0);
    if (word == MAP_FAILED)
        return false;
    m_spillWord = static_cast<std::uint32_t *>(word);
    return true;
}

bool FrameRing::spilling() const
{
    return m_spillWord && __atomic_load_n(m_spillWord, __ATOMIC_ACQUIRE) != 0;
}

void FrameRing::endSpill()
{
    if (!m_spillWord)
        return;
    __atomic_store_n(m_spillWord, 0u, __ATOMIC_RELEASE);
    std::atomic_thread_fence(std::memory_order_seq_cst); // before the ring is looked at again
}

FrameRing::~FrameRing()
{
    if (m_spillWord)
        munmap(m_spillWord, m_pageSize);
    if (m_consumerPage)
        munmap(m_consumerPage, m_pageSize);
    if (m_producerArea)
        munmap(m_producerArea, m_pageSize + 2 * m_size);
}

bool FrameRing::read(PacketBuffer &buffer)
{
    return isValid() && next(&buffer);
}

void FrameRing::drain()
{
    if (!isValid())
        return;
    while (next(nullptr)) {
    }
}

void FrameRing::release(std::uint64_t consumer)
{
    m_consumer = consumer;
    __atomic_store_n(static_cast<volatile std::uint64_t *>(m_consumerPage), consumer, __ATOMIC_RELEASE);
    m_unfenced = true;
}

// One complete record: copied into `buffer` when given, else skipped. Discarded records
// and records whose frame length does not fit are passed over on the way.
bool FrameRing::next(PacketBuffer *buffer)
{
    for (;;) {
        const std::uint64_t producer = loadAcquire(m_producerArea);
        std::uint32_t header = 0;
        const std::uint8_t *record = m_data + (m_consumer & (m_size - 1));
        const bool waiting = producer != m_consumer
            && !((header = loadAcquire32(record)) & BPF_RINGBUF_BUSY_BIT);
        if (!waiting) {
            if (!m_unfenced)
                return false;
            std::atomic_thread_fence(std::memory_order_seq_cst); // see the wake-up rule
            m_unfenced = false;
            continue;
        }
        const std::uint32_t length = header & ~(BPF_RINGBUF_BUSY_BIT | BPF_RINGBUF_DISCARD_BIT);
        const std::uint64_t span = (std::uint64_t(length) + BPF_RINGBUF_HDR_SZ + 7) & ~std::uint64_t(7);
        if (span > producer - m_consumer) { // cannot come from the kernel; resynchronise
            release(producer);
            continue;
        }
        const std::uint8_t *payload = record + BPF_RINGBUF_HDR_SZ;
        std::uint32_t frameLength = 0;
        bool usable = !(header & BPF_RINGBUF_DISCARD_BIT) && length >= kLengthWordSize;
        if (usable) {
            std::memcpy(&frameLength, payload, sizeof frameLength);
            usable = frameLength > 0 && frameLength <= kMaxFrameSize && frameLength <= length - kLengthWordSize;
        }
        if (usable && buffer) {
            std::memcpy(buffer->frame, payload + kLengthWordSize, frameLength);
            buffer->length = frameLength;
        }
        release(m_consumer + span);
        if (usable)
            return true;
    }
}
