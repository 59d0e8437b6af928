// kv_empty_sequencer: an LD_PRELOAD library that stands in for the ALSA
// sequencer's kernel device (/dev/snd/seq), which the test machines lack and
// cannot load. Qtractor refuses to start its engine without a sequencer; with
// this library it finds an empty one. It replaces only that device: every
// snd_seq_* call that talks to the kernel through a handle is answered here,
// while the accessors of ALSA's own info records stay ALSA's, and the host
// (Qtractor, JACK) and the plug-in it loads stay the real programs.
//
// What the stand-in sequencer is:
// - one client per snd_seq_open (ids from 128, as the kernel gives user
//   clients), named as its owner asks; no other client exists;
// - the ports a client creates exist and are listed with their names and
//   capabilities; a connection is accepted only between ports that exist
//   (so, with no other client, only between a client's own ports) and is not
//   remembered: nobody is ever subscribed;
// - queues allocate and keep the tempo they are given; their clock stands at 0;
// - events sent are dropped, and no event ever arrives: the poll descriptor is
//   the read end of a pipe nobody writes to.
//
//   LD_PRELOAD=.../libkv_empty_sequencer.so qtractor SESSION.qtr
#include <alsa/asoundlib.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#define KV_EXPORT extern "C" __attribute__((visibility("default")))

struct StandInPort {
    int id;
    std::string name;
    unsigned capability;
    unsigned type;
};

struct StandInQueue {
    bool used;
    unsigned tempo;  // microseconds a quarter note
    int ppq;
    unsigned skew;
    unsigned skewBase;
};

// The handle ALSA's callers hold: to them it is opaque, so it is ours.
struct _snd_seq {
    int client;
    int streams;
    std::string name;
    int pipe[2];  // [0] is polled and never becomes readable
    std::vector<StandInPort> ports;
    std::vector<StandInQueue> queues;
};

namespace {

constexpr int kFirstUserClient = 128;  // the kernel's first id for programs
constexpr unsigned kKernelSkewBase = 0x10000;
std::atomic<int> nextClient{kFirstUserClient};

StandInPort* findPort(snd_seq_t* seq, int port) {
    for (auto& p : seq->ports)
        if (p.id == port) return &p;
    return nullptr;
}

bool exists(snd_seq_t* seq, const snd_seq_addr_t* address) {
    return address->client == seq->client && findPort(seq, address->port) != nullptr;
}

StandInQueue* findQueue(snd_seq_t* seq, int queue) {
    if (queue < 0 || queue >= static_cast<int>(seq->queues.size())) return nullptr;
    return seq->queues[queue].used ? &seq->queues[queue] : nullptr;
}

void describe(snd_seq_t* seq, const StandInPort& port, snd_seq_port_info_t* info) {
    snd_seq_port_info_set_client(info, seq->client);
    snd_seq_port_info_set_port(info, port.id);
    snd_seq_port_info_set_name(info, port.name.c_str());
    snd_seq_port_info_set_capability(info, port.capability);
    snd_seq_port_info_set_type(info, port.type);
}

}  // namespace

KV_EXPORT int snd_seq_open(snd_seq_t** handle, const char* /*name*/, int streams, int /*mode*/) {
    auto* seq = new snd_seq_t{nextClient++, streams, "Client", {-1, -1}, {}, {}};
    if (pipe(seq->pipe) != 0) {
        const int error = -errno;
        delete seq;
        return error;
    }
    *handle = seq;
    return 0;
}

KV_EXPORT int snd_seq_close(snd_seq_t* seq) {
    close(seq->pipe[0]);
    close(seq->pipe[1]);
    delete seq;
    return 0;
}

KV_EXPORT int snd_seq_client_id(snd_seq_t* seq) {
    return seq->client;
}

KV_EXPORT int snd_seq_set_client_name(snd_seq_t* seq, const char* name) {
    seq->name = name;
    return 0;
}

KV_EXPORT int snd_seq_poll_descriptors_count(snd_seq_t* /*seq*/, short /*events*/) {
    return 1;
}

KV_EXPORT int snd_seq_poll_descriptors(snd_seq_t* seq, struct pollfd* fds, unsigned space,
                                       short events) {
    if (space < 1) return 0;
    fds[0] = pollfd{seq->pipe[0], events, 0};
    return 1;
}

// Ports.

KV_EXPORT int snd_seq_create_simple_port(snd_seq_t* seq, const char* name, unsigned caps,
                                         unsigned type) {
    const int id = seq->ports.empty() ? 0 : seq->ports.back().id + 1;
    seq->ports.push_back(StandInPort{id, name, caps, type});
    return id;
}

KV_EXPORT int snd_seq_delete_simple_port(snd_seq_t* seq, int port) {
    for (auto it = seq->ports.begin(); it != seq->ports.end(); ++it) {
        if (it->id == port) {
            seq->ports.erase(it);
            return 0;
        }
    }
    return -ENOENT;
}

KV_EXPORT int snd_seq_get_any_port_info(snd_seq_t* seq, int client, int port,
                                        snd_seq_port_info_t* info) {
    const StandInPort* found = client == seq->client ? findPort(seq, port) : nullptr;
    if (found == nullptr) return -ENOENT;
    describe(seq, *found, info);
    return 0;
}

KV_EXPORT int snd_seq_get_port_info(snd_seq_t* seq, int port, snd_seq_port_info_t* info) {
    return snd_seq_get_any_port_info(seq, seq->client, port, info);
}

KV_EXPORT int snd_seq_set_port_info(snd_seq_t* seq, int port, snd_seq_port_info_t* info) {
    StandInPort* found = findPort(seq, port);
    if (found == nullptr) return -ENOENT;
    found->name = snd_seq_port_info_get_name(info);
    found->capability = snd_seq_port_info_get_capability(info);
    found->type = snd_seq_port_info_get_type(info);
    return 0;
}

// Clients: the caller's own is the only one.

KV_EXPORT int snd_seq_get_any_client_info(snd_seq_t* seq, int client, snd_seq_client_info_t* info) {
    if (client != seq->client) return -ENOENT;
    snd_seq_client_info_set_client(info, client);
    snd_seq_client_info_set_name(info, seq->name.c_str());
    return 0;
}

KV_EXPORT int snd_seq_query_next_client(snd_seq_t* seq, snd_seq_client_info_t* info) {
    if (snd_seq_client_info_get_client(info) >= seq->client) return -ENOENT;
    return snd_seq_get_any_client_info(seq, seq->client, info);
}

KV_EXPORT int snd_seq_query_next_port(snd_seq_t* seq, snd_seq_port_info_t* info) {
    if (snd_seq_port_info_get_client(info) != seq->client) return -ENOENT;
    const int after = snd_seq_port_info_get_port(info);
    for (const auto& p : seq->ports) {
        if (p.id > after) {
            describe(seq, p, info);
            return 0;
        }
    }
    return -ENOENT;
}

// Connections.

KV_EXPORT int snd_seq_subscribe_port(snd_seq_t* seq, snd_seq_port_subscribe_t* subscription) {
    const bool both = exists(seq, snd_seq_port_subscribe_get_sender(subscription)) &&
                      exists(seq, snd_seq_port_subscribe_get_dest(subscription));
    return both ? 0 : -ENOENT;
}

KV_EXPORT int snd_seq_unsubscribe_port(snd_seq_t* /*seq*/, snd_seq_port_subscribe_t* /*sub*/) {
    return -ENOENT;
}

KV_EXPORT int snd_seq_query_port_subscribers(snd_seq_t* /*seq*/,
                                             snd_seq_query_subscribe_t* /*subs*/) {
    return -ENOENT;
}

// Queues.

KV_EXPORT int snd_seq_alloc_queue(snd_seq_t* seq) {
    // The kernel's defaults: 120 beats a minute, 96 ticks a beat, no skew.
    const StandInQueue fresh{true, 500000, 96, kKernelSkewBase, kKernelSkewBase};
    for (size_t q = 0; q < seq->queues.size(); ++q) {
        if (!seq->queues[q].used) {
            seq->queues[q] = fresh;
            return static_cast<int>(q);
        }
    }
    seq->queues.push_back(fresh);
    return static_cast<int>(seq->queues.size() - 1);
}

KV_EXPORT int snd_seq_free_queue(snd_seq_t* seq, int queue) {
    StandInQueue* q = findQueue(seq, queue);
    if (q == nullptr) return -EINVAL;
    q->used = false;
    return 0;
}

KV_EXPORT int snd_seq_get_queue_tempo(snd_seq_t* seq, int queue, snd_seq_queue_tempo_t* tempo) {
    const StandInQueue* q = findQueue(seq, queue);
    if (q == nullptr) return -EINVAL;
    std::memset(tempo, 0, snd_seq_queue_tempo_sizeof());
    snd_seq_queue_tempo_set_tempo(tempo, q->tempo);
    snd_seq_queue_tempo_set_ppq(tempo, q->ppq);
    snd_seq_queue_tempo_set_skew(tempo, q->skew);
    snd_seq_queue_tempo_set_skew_base(tempo, q->skewBase);
    return 0;
}

KV_EXPORT int snd_seq_set_queue_tempo(snd_seq_t* seq, int queue, snd_seq_queue_tempo_t* tempo) {
    StandInQueue* q = findQueue(seq, queue);
    if (q == nullptr) return -EINVAL;
    q->tempo = snd_seq_queue_tempo_get_tempo(tempo);
    q->ppq = snd_seq_queue_tempo_get_ppq(tempo);
    q->skew = snd_seq_queue_tempo_get_skew(tempo);
    q->skewBase = snd_seq_queue_tempo_get_skew_base(tempo);
    return 0;
}

KV_EXPORT int snd_seq_get_queue_status(snd_seq_t* seq, int queue, snd_seq_queue_status_t* status) {
    if (findQueue(seq, queue) == nullptr) return -EINVAL;
    std::memset(status, 0, snd_seq_queue_status_sizeof());  // the clock stands at 0
    return 0;
}

KV_EXPORT int snd_seq_set_queue_timer(snd_seq_t* seq, int queue, snd_seq_queue_timer_t* /*t*/) {
    return findQueue(seq, queue) != nullptr ? 0 : -EINVAL;
}

KV_EXPORT int snd_seq_control_queue(snd_seq_t* seq, int queue, int /*type*/, int /*value*/,
                                    snd_seq_event_t* /*event*/) {
    return findQueue(seq, queue) != nullptr ? 0 : -EINVAL;
}

// Events: what is sent goes nowhere, nothing ever arrives.

KV_EXPORT int snd_seq_event_output(snd_seq_t* /*seq*/, snd_seq_event_t* /*event*/) {
    return 0;
}

KV_EXPORT int snd_seq_event_output_direct(snd_seq_t* /*seq*/, snd_seq_event_t* event) {
    return static_cast<int>(snd_seq_event_length(event));
}

KV_EXPORT int snd_seq_drain_output(snd_seq_t* /*seq*/) {
    return 0;
}

KV_EXPORT int snd_seq_drop_output(snd_seq_t* /*seq*/) {
    return 0;
}

KV_EXPORT int snd_seq_drop_input(snd_seq_t* /*seq*/) {
    return 0;
}

KV_EXPORT int snd_seq_remove_events(snd_seq_t* /*seq*/, snd_seq_remove_events_t* /*what*/) {
    return 0;
}

KV_EXPORT int snd_seq_event_input_pending(snd_seq_t* /*seq*/, int /*fetch*/) {
    return 0;
}

KV_EXPORT int snd_seq_event_input(snd_seq_t* /*seq*/, snd_seq_event_t** event) {
    *event = nullptr;
    return -EAGAIN;
}
