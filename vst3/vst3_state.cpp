#include "vst3/vst3_state.h"

#include <cstdint>

#include "dsp/state_codec.h"

namespace kv::vst3 {

namespace {

using kv::opamp::kRecordSize;

}  // namespace

bool writeState(v3_bstream** stream, const float (&values)[kv::opamp::kNumAllParams]) {
    if (!stream || !*stream) return false;
    unsigned char record[kRecordSize];
    kv::opamp::encodeRecord(values, record);
    const v3_bstream* s = v3_cpp_obj(stream);
    for (size_t written = 0; written < kRecordSize;) {
        int32_t n = 0;
        if (s->write(stream, record + written, static_cast<int32_t>(kRecordSize - written), &n) !=
                V3_OK ||
            n <= 0)
            return false;
        written += static_cast<size_t>(n);
    }
    return true;
}

namespace {

// Reads up to `size` bytes; answers how many came.
size_t readUpTo(const v3_bstream* s, v3_bstream** stream, unsigned char* to, size_t size) {
    size_t got = 0;
    while (got < size) {
        int32_t n = 0;
        if (s->read(stream, to + got, static_cast<int32_t>(size - got), &n) != V3_OK || n <= 0)
            break;
        got += static_cast<size_t>(n);
    }
    return got;
}

}  // namespace

bool readState(v3_bstream** stream, float (&values)[kv::opamp::kNumAllParams]) {
    if (!stream || !*stream) return false;
    const v3_bstream* s = v3_cpp_obj(stream);
    // The head says the record's version, and so how much more to read:
    // nothing past our own record is read.
    unsigned char record[kRecordSize];
    if (readUpTo(s, stream, record, 8) != 8) return false;
    const size_t size = kv::opamp::recordSizeOf(record);
    if (size == 0 || readUpTo(s, stream, record + 8, size - 8) != size - 8) return false;
    // More after the record: not a state of ours. A stream that cannot say
    // where it ends is taken at its record.
    int64_t here = 0, end = 0, back = 0;
    if (s->tell(stream, &here) == V3_OK && s->seek(stream, 0, V3_SEEK_END, &end) == V3_OK) {
        s->seek(stream, here, V3_SEEK_SET, &back);
        if (end > here) return false;
    }
    return kv::opamp::decodeRecord(record, size, values);
}

}  // namespace kv::vst3
