#pragma once

#include <memory>
#include <string>

namespace quorix::cli {

// Emulated Quorix 252 cameras that the quorix tool runs in its own process for `--sim N`.
//
// The tool reaches cameras only through the SDK library, and the library sees emulated cameras
// only the documented way: through the socket directory that QUORIX_SIM_DIR names. So each
// camera is served with a socket server in a private temporary directory, and QUORIX_SIM_DIR is
// pointed there before the library is asked for cameras. Cameras that a quorix-camsim daemon
// already serves through QUORIX_SIM_DIR stay visible: their sockets are linked into the private
// directory.
//
// Owned by the command that asked for them; it must release every SDK handle before destroying
// this object. Destruction unplugs the cameras, stops their servers, restores QUORIX_SIM_DIR and
// removes the directory; SIGINT, SIGTERM and SIGHUP remove the directory on the way out as well.
class SimCameras {
public:
    static constexpr int kMaxCameras = 10;  // as many as Quorix_EnumDevice lists

    // Starts `count` cameras (1..kMaxCameras), the n-th with serial number QX252-00000n.
    // Null on failure, with the reason in `error`.
    static std::unique_ptr<SimCameras> Start(int count, std::string* error);

    ~SimCameras();
    SimCameras(const SimCameras&) = delete;
    SimCameras& operator=(const SimCameras&) = delete;

    // The private socket directory (QUORIX_SIM_DIR while this object lives).
    const std::string& Directory() const;

    // The emulated cameras reachable through Directory(): this object's own and the daemon's
    // whose sockets were linked in.
    int EmulatedCameraCount() const;

    // The cameras served in a socket directory now: its socket files named as the library
    // expects them on which a daemon accepts connections. Sockets that a daemon which died left
    // behind do not count. 0 when the directory cannot be read.
    static int CountServedCameras(const std::string& directory);

private:
    struct State;
    explicit SimCameras(std::unique_ptr<State> state);

    std::unique_ptr<State> m_state;
};

}  // namespace quorix::cli
