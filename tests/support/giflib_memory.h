#pragma once

// giflib, the outside decoder our GIF files are checked and timed against,
// reading bytes held in memory.

#include <gif_lib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace sw::test {

// A giflib file open on bytes in memory, closed when it goes. The bytes
// must outlive it.
class TGiflibFile {
public:
    explicit TGiflibFile(const std::vector<uint8_t>& bytes)
        : m_bytes(bytes)
    {
        m_file = DGifOpen(this, Read, &m_error);
    }
    ~TGiflibFile()
    {
        if (m_file != nullptr)
            DGifCloseFile(m_file, &m_error);
    }
    TGiflibFile(const TGiflibFile&) = delete;
    TGiflibFile& operator=(const TGiflibFile&) = delete;

    // nullptr when giflib refused the file's head; OpenError() says why.
    GifFileType* File() const { return m_file; }
    int OpenError() const { return m_error; }
    // Reads every frame; false when the file did not open or giflib
    // rejects the rest.
    bool Slurp() { return m_file != nullptr && DGifSlurp(m_file) == GIF_OK; }

private:
    static int Read(GifFileType* file, GifByteType* buffer, int count)
    {
        auto* self = static_cast<TGiflibFile*>(file->UserData);
        const size_t n = std::min(static_cast<size_t>(count), self->m_bytes.size() - self->m_at);
        if (n > 0)
            std::memcpy(buffer, self->m_bytes.data() + self->m_at, n);
        self->m_at += n;
        return static_cast<int>(n);
    }

    const std::vector<uint8_t>& m_bytes;
    size_t m_at = 0;
    GifFileType* m_file = nullptr;
    int m_error = 0;
};

} // namespace sw::test
