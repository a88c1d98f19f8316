#pragma once

// A brief check of whether the sound server the environment names (PULSE_SERVER, else the
// user's own PulseAudio or PipeWire pulse server) takes a client: for the settings page's
// microphone row. It connects a throwaway libpulse context on its own short main loop and
// disconnects again; it never starts a server.

namespace kivo {

enum class SoundServerReach {
    // The server accepted the connection.
    connected,
    // No server answered: no socket, nobody listening, or no answer before the timeout.
    unreachable,
    // A server answered and turned the client away (access denied, bad cookie, closed the
    // connection during the handshake).
    refused,
};

// Blocks the calling thread for at most `timeoutMs` milliseconds. Any thread.
SoundServerReach probeSoundServer(int timeoutMs = 1000);

} // namespace kivo
