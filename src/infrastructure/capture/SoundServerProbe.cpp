#include "infrastructure/capture/SoundServerProbe.h"

#include <pulse/pulseaudio.h>

#include <algorithm>

namespace kivo {

namespace {

struct Probe {
    // The transport connected and the handshake began: whatever follows, a server answered.
    bool answered = false;
    bool expired = false;
};

void onState(pa_context* context, void* userdata) {
    switch (pa_context_get_state(context)) {
    case PA_CONTEXT_AUTHORIZING:
    case PA_CONTEXT_SETTING_NAME:
    case PA_CONTEXT_READY:
        static_cast<Probe*>(userdata)->answered = true;
        break;
    default:
        break;
    }
}

void onTimeout(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata) {
    static_cast<Probe*>(userdata)->expired = true;
}

SoundServerReach outcome(pa_mainloop* loop, pa_context* context, Probe& probe, int timeoutMs) {
    // No autospawn: a probe looks at the server the desktop runs and never starts one.
    if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        return SoundServerReach::unreachable;
    }
    pa_time_event* timer = pa_context_rttime_new(
        context,
        pa_rtclock_now() + static_cast<pa_usec_t>(std::max(timeoutMs, 0)) * PA_USEC_PER_MSEC,
        &onTimeout, &probe);
    SoundServerReach reach = SoundServerReach::unreachable;
    for (;;) {
        const pa_context_state_t state = pa_context_get_state(context);
        if (state == PA_CONTEXT_READY) {
            reach = SoundServerReach::connected;
            break;
        }
        if (!PA_CONTEXT_IS_GOOD(state)) {
            // libpulse reports a missing socket as "connection refused" too, so only a failure
            // after the handshake began, or an answer only a server gives, counts as refusal.
            const int error = pa_context_errno(context);
            if (probe.answered || error == PA_ERR_ACCESS || error == PA_ERR_AUTHKEY) {
                reach = SoundServerReach::refused;
            }
            break;
        }
        if (probe.expired || pa_mainloop_iterate(loop, 1, nullptr) < 0) {
            break;
        }
    }
    if (timer != nullptr) {
        pa_mainloop_get_api(loop)->time_free(timer);
    }
    pa_context_disconnect(context);
    return reach;
}

} // namespace

SoundServerReach probeSoundServer(int timeoutMs) {
    pa_mainloop* loop = pa_mainloop_new();
    if (loop == nullptr) {
        return SoundServerReach::unreachable;
    }
    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, "Kivo");
    pa_proplist_sets(properties, PA_PROP_APPLICATION_ID, "kivo");
    pa_context* context =
        pa_context_new_with_proplist(pa_mainloop_get_api(loop), "Kivo", properties);
    pa_proplist_free(properties);
    SoundServerReach reach = SoundServerReach::unreachable;
    if (context != nullptr) {
        Probe probe;
        pa_context_set_state_callback(context, &onState, &probe);
        reach = outcome(loop, context, probe, timeoutMs);
        pa_context_set_state_callback(context, nullptr, nullptr);
        pa_context_unref(context);
    }
    pa_mainloop_free(loop);
    return reach;
}

} // namespace kivo
