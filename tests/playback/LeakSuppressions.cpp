// Allocations that system libraries under GStreamer keep for the life of the
// process and that no caller can free: GLib's quark table made while the
// library loads (GLib drops the old table on purpose when it grows) and the
// packet side data gst-libav's decoders leave behind. Only these stacks are
// excused; a leak of ours shows as before. The libraries have no frame
// pointers, so allocations are unwound the slow way to see whose they are.
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }

extern "C" const char* __lsan_default_suppressions() {
  return "leak:_dl_init\n"
         "leak:av_packet_add_side_data\n";
}
