// The in-memory file both extraction back-ends hand their decoder (FDI's file callbacks, libmspack's
// mspack_system): the cabinet, read from the caller's bytes, or the sink of the one file being
// extracted, which counts its bytes and feeds them to a digest. Nothing touches the disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "byte_view.h"
#include "digest.h"

namespace qarv::tools::inspector {

enum class SeekOrigin { kStart, kCurrent, kEnd };

class MemoryFile {
public:
    static MemoryFile Reader(ByteView input) {
        MemoryFile file;
        file.m_input = input;
        return file;
    }
    // `digest` (may be null) is fed every byte written.
    static MemoryFile Sink(Digest* digest) {
        MemoryFile file;
        file.m_isSink = true;
        file.m_digest = digest;
        return file;
    }

    bool IsSink() const { return m_isSink; }
    std::uint64_t Written() const { return m_written; }
    std::uint64_t Position() const { return m_position; }
    // A DigestError may not cross the decoder's C frames: Write keeps its message for the caller to
    // throw again once the decoder has returned.
    bool DigestFailed() const { return m_digestFailed; }
    const std::string& DigestProblem() const { return m_digestProblem; }

    // Up to `count` bytes of the cabinet into `buffer`; the bytes read, or -1 from a sink.
    long long Read(void* buffer, std::size_t count) {
        if (m_isSink) return -1;
        const std::size_t left = m_input.size() - m_position;
        const std::size_t taken = count < left ? count : left;
        if (taken != 0) std::memcpy(buffer, m_input.data() + m_position, taken);
        m_position += taken;
        return static_cast<long long>(taken);
    }

    // The bytes written, or -1 into the cabinet or when the digest fails.
    long long Write(const void* buffer, std::size_t count) {
        if (!m_isSink) return -1;
        if (m_digest != nullptr) {
            try {
                m_digest->Update(buffer, count);
            } catch (const DigestError& error) {
                m_digestFailed = true;
                m_digestProblem = error.what();
                return -1;
            }
        }
        m_written += count;
        return static_cast<long long>(count);
    }

    // Moves the read position; false for a sink or a position outside the cabinet. `offset` comes
    // from the cabinet's fields, so it is checked before it is added.
    bool Seek(long long offset, SeekOrigin origin) {
        if (m_isSink) return false;
        const long long size = static_cast<long long>(m_input.size());
        long long base = 0;
        if (origin == SeekOrigin::kCurrent) base = static_cast<long long>(m_position);
        if (origin == SeekOrigin::kEnd) base = size;
        if (offset < -base || offset > size - base) return false;
        m_position = static_cast<std::size_t>(base + offset);
        return true;
    }

private:
    MemoryFile() = default;

    ByteView m_input;
    std::size_t m_position = 0;
    bool m_isSink = false;
    std::uint64_t m_written = 0;
    Digest* m_digest = nullptr;
    bool m_digestFailed = false;
    std::string m_digestProblem;
};

}  // namespace qarv::tools::inspector
