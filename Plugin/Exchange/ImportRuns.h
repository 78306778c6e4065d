// Content readers of the import's runs and the copy that inflates a stored host document. They
// belong to DWX_Import.cpp; they are declared here so that their buffering can be checked.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "Container/Model/Folders.h"
#include "Container/Storage/Errors.h"
#include "Container/Storage/Streams.h"
#include "Plugin/Exchange/KSStreams.h"
#include "platform/host/documents/XTDocSuites.h"

namespace KS_DWX::Import {

// Delivers a run's content one unit per call; a content cut short inside a unit or a record
// raises the container library's short-read error.
class RunImpl {
public:
    virtual ~RunImpl() = default;
    // Answers the bytes placed in the buffer: one unit, or 0 at the end or when `size` is too
    // small for a unit.
    virtual uint32_t Read(void* buffer, uint32_t size) = 0;
};

// Text units read through a buffer of 1000 units refilled from the run's stream.
template <class Unit>
class TRunStr final : public RunImpl {
public:
    static constexpr uint32_t kBufferUnits = 1000;

    explicit TRunStr(DWX_Handle<DWX_InStream2> stream) : m_stream(std::move(stream)) {}

    uint32_t Read(void* buffer, uint32_t size) override
    {
        if (size < sizeof(Unit))
            return 0;
        if (m_next == m_filled && !Refill())
            return 0;
        std::memcpy(buffer, &m_units[m_next++], sizeof(Unit));
        return sizeof(Unit);
    }

private:
    bool Refill()
    {
        if (m_ended)
            return false;
        m_units.resize(kBufferUnits);
        auto& stream = dynamic_cast<DWX_In<Unit>&>(*m_stream);
        m_filled = stream.GetData(m_units.data(), kBufferUnits);
        // A stream that ends inside a unit lost part of its text: its last character would
        // be dropped without a word.
        if (stream.Damaged())
            Error(FE_CodeFileShortRead);
        m_next = 0;
        if (m_filled < kBufferUnits)
            m_ended = true;
        return m_filled > 0;
    }

    DWX_Handle<DWX_InStream2> m_stream;
    std::vector<Unit> m_units;
    uint32_t m_filled = 0;
    uint32_t m_next = 0;
    bool m_ended = false;
};

// Records of a run's bundle, one per call, as their 32-bit fields in little-endian order.
template <class Plain>
class TRunBun final : public RunImpl {
public:
    explicit TRunBun(DWX_Handle<DWX_InBundle2> bundle) : m_bundle(std::move(bundle)) {}

    uint32_t Read(void* buffer, uint32_t size) override
    {
        constexpr uint32_t kFields = static_cast<uint32_t>(DWX_Rec<Plain>::kFieldCount);
        if (m_ended || size < kFields * 4)
            return 0;
        DWX_Rec_In<Plain> record;
        if (!m_bundle->GetRecord(record)) {
            m_ended = true;
            return 0;
        }
        auto* out = static_cast<unsigned char*>(buffer);
        for (dwx_long i = 0; i < DWX_Rec<Plain>::kFieldCount; ++i) {
            DWX_RecordFields<Plain>::Visit(record, i, [&](dwx_long field) {
                const uint32_t bits = static_cast<uint32_t>(field);
                for (int b = 0; b < 4; ++b)
                    *out++ = static_cast<unsigned char>(bits >> (8 * b));
                return true;
            });
        }
        return kFields * 4;
    }

private:
    DWX_Handle<DWX_InBundle2> m_bundle;
    bool m_ended = false;
};

// The largest host document the import inflates: what the host would not open is not written.
constexpr uint64_t kMaxStoredDocument = XT_MAX_DOCUMENT_FILE_BYTES;

// Copies everything `source` delivers to `out` in blocks of 1024 bytes; raises
// FE_StorageMediumFull, before writing the block that would pass `limit` bytes.
void InflateTo(InStream& source, KSOutStream& out, uint64_t limit);

} // namespace KS_DWX::Import
