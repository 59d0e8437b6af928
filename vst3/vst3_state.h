// The plug-in's state through a host's IBStream: the record of the DSP
// core's codec (dsp/state_codec.h), the same bytes every format stores.
//
// A host may hand over a window of a larger blob (Ardour gives the
// component's part of its preset chunk), or a stream that goes on with data
// of its own after ours: exactly the record's bytes are read, never more.
// Whether anything follows the record is asked of the stream's end
// (seek and tell, which read nothing) where the stream can tell it.
#pragma once

#include <travesty/bstream.h>

#include "dsp/opamp_params.h"

namespace kv::vst3 {

// Writes the record of `values`; false when the stream takes less.
bool writeState(v3_bstream** stream, const float (&values)[kv::opamp::kNumAllParams]);

// Reads a record into `values`. A short stream, one that holds more than a
// record, a record of another name or version, or a value outside [0, 1]
// is refused: false, and `values` is untouched.
bool readState(v3_bstream** stream, float (&values)[kv::opamp::kNumAllParams]);

}  // namespace kv::vst3
