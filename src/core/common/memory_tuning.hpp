#pragma once

namespace tintora {

// Every video frame takes and frees pictures of several megabytes. By
// default the C library hands such memory back to the system at once and the
// next frame faults it in again, page by page, which costs about as much as
// correcting the frame. Programs call this once at start so freed frame
// memory is kept for the next frame.
void keep_freed_frame_memory();

}  // namespace tintora
