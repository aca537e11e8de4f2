#include "ShmSegment.h"

#include <sys/ipc.h>
#include <sys/shm.h>

#include "RecorderError.h"
#include "Xcb.h"

namespace kestrova::x11 {

ShmSegment::ShmSegment(xcb_connection_t* conn, std::size_t bytes) : conn_(conn), bytes_(bytes) {
  const int shmid = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
  if (shmid < 0) {
    throw PlatformError("Could not reserve shared memory for screen capture.");
  }
  void* addr = shmat(shmid, nullptr, 0);
  if (addr == reinterpret_cast<void*>(-1)) {  // NOLINT(performance-no-int-to-ptr): shmat's failure
    shmctl(shmid, IPC_RMID, nullptr);
    throw PlatformError("Could not reserve shared memory for screen capture.");
  }
  seg_ = xcb_generate_id(conn);
  XcbReply<xcb_generic_error_t> error(xcb_request_check(
      conn, xcb_shm_attach_checked(conn, seg_, static_cast<std::uint32_t>(shmid), 0)));
  // Both sides are attached (or the server refused): the segment goes when the last one detaches.
  shmctl(shmid, IPC_RMID, nullptr);
  if (error || xcb_connection_has_error(conn)) {
    shmdt(addr);
    throw PlatformError(
        "The X server refused to share memory with Kestrova, which screen capture needs.");
  }
  data_ = static_cast<std::uint8_t*>(addr);
}

ShmSegment::~ShmSegment() {
  if (!xcb_connection_has_error(conn_)) {
    xcb_shm_detach(conn_, seg_);
    xcb_flush(conn_);
  }
  shmdt(data_);
}

}  // namespace kestrova::x11
