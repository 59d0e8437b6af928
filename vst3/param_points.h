// The parameter points of one process call, in time order across all
// parameters: a host gives one queue per parameter, each in its own time
// order; process splits the block at each point, in this order.
//
// Audio thread: no allocation, no lock. Queues of ids that are no parameter
// of ours are passed over. A host gives at most one queue per parameter;
// beyond that many queues, the extra ones are left unread.
#pragma once

#include <travesty/audio_processor.h>

#include <cstdint>

#include "dsp/opamp_params.h"

namespace kv::vst3 {

class ParamPoints {
  public:
    explicit ParamPoints(v3_param_changes** changes) {
        if (!changes || !*changes) return;
        const v3_param_changes* c = v3_cpp_obj(changes);
        const int32_t count = c->get_param_count(changes);
        for (int32_t i = 0; i < count && queues_ < kMaxQueues; ++i) {
            v3_param_value_queue** q = c->get_param_data(changes, i);
            if (!q || !*q) continue;
            const v3_param_value_queue* table = v3_cpp_obj(q);
            const v3_param_id id = table->get_param_id(q);
            const int32_t points = table->get_point_count(q);
            if (id >= static_cast<v3_param_id>(kv::opamp::kNumAllParams) || points <= 0) continue;
            queue_[queues_] = {q, id, points, 0};
            ++queues_;
        }
    }

    // The earliest point not yet taken (the first queue's on a tie); false
    // when none is left. A point the host cannot give is passed over.
    bool next(int32_t& offset, v3_param_id& id, double& value) {
        int32_t best = -1;
        int32_t bestOffset = 0;
        double bestValue = 0.0;
        for (int32_t i = 0; i < queues_; ++i) {
            Queue& q = queue_[i];
            while (q.next < q.points) {
                int32_t at = 0;
                double v = 0.0;
                if (v3_cpp_obj(q.queue)->get_point(q.queue, q.next, &at, &v) == V3_OK) {
                    if (best < 0 || at < bestOffset) {
                        best = i;
                        bestOffset = at;
                        bestValue = v;
                    }
                    break;
                }
                ++q.next;
            }
        }
        if (best < 0) return false;
        ++queue_[best].next;
        offset = bestOffset;
        id = queue_[best].id;
        value = bestValue;
        return true;
    }

  private:
    static constexpr int32_t kMaxQueues = 4 * kv::opamp::kNumAllParams;
    struct Queue {
        v3_param_value_queue** queue;
        v3_param_id id;
        int32_t points;
        int32_t next;
    };
    Queue queue_[kMaxQueues] = {};
    int32_t queues_ = 0;
};

}  // namespace kv::vst3
