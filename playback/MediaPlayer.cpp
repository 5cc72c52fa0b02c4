#include "playback/MediaPlayer.h"

#include <gst/gst.h>

#include <climits>
#include <cmath>
#include <condition_variable>
#include <filesystem>
#include <mutex>

#include "playback/GstFunctions.h"

namespace sonarvex {

double MediaLinearVolume(int volume) {
  if (volume >= 0) return 1.0;
  if (volume <= -10000) return 0.0;
  return std::pow(10.0, volume / 2000.0);
}

namespace {

bool StartGStreamer(std::string* why) {
  static std::once_flag once;
  static bool ok = false;
  static std::string reason;
  std::call_once(once, [] {
    if (!gst::Available()) {
      reason = gst::Error();
      return;
    }
    GError* error = nullptr;
    if (!gst_init_check(nullptr, nullptr, &error)) {
      reason = error && error->message ? error->message : "GStreamer cannot be started";
      if (error) g_error_free(error);
      return;
    }
    GstElementFactory* playbin = gst_element_factory_find("playbin");
    if (!playbin) {
      reason = "GStreamer has no playbin (gstreamer1.0-plugins-base)";
      return;
    }
    gst_object_unref(playbin);
    ok = true;
  });
  if (!ok && why) *why = reason;
  return ok;
}

int Hundredths(gint64 nanoseconds) {
  if (nanoseconds <= 0) return 0;
  const gint64 h = nanoseconds / (GST_SECOND / 100);
  return h > INT_MAX ? INT_MAX : static_cast<int>(h);
}

}  // namespace

struct MediaPlayer::Impl {
  // One playbin with what its bus has said.
  struct Stream {
    Impl* owner = nullptr;
    GstElement* pipeline = nullptr;
    bool announce = false;  // the loaded stream: events go to the callback
    // Guarded by the owner's waitMutex.
    bool ended = false;
    bool failed = false;
    std::string error;
  };

  MediaPlayerOptions options;
  std::unique_ptr<Stream> current;
  std::string path;
  bool noVideo = false;
  double volume = 1.0;
  std::string lastError;

  std::mutex callbackMutex;
  EventCallback callback;

  std::mutex waitMutex;
  std::condition_variable waitChanged;
  std::uint64_t interrupts = 0;

  static GstBusSyncReply OnBusMessage(GstBus*, GstMessage* message, gpointer data) {
    auto* stream = static_cast<Stream*>(data);
    Impl* self = stream->owner;
    StreamEvent event;
    std::string detail;
    switch (GST_MESSAGE_TYPE(message)) {
      case GST_MESSAGE_EOS:
        event = StreamEvent::EndOfStream;
        break;
      case GST_MESSAGE_ERROR: {
        GError* error = nullptr;
        gchar* debug = nullptr;
        gst_message_parse_error(message, &error, &debug);
        detail = error && error->message ? error->message : "stream error";
        if (error) g_error_free(error);
        g_free(debug);
        event = StreamEvent::Error;
        break;
      }
      default:
        return GST_BUS_DROP;  // nobody reads the bus: keep it empty
    }
    bool announce;
    {
      std::lock_guard<std::mutex> lock(self->waitMutex);
      announce = stream->announce;
    }
    // The owner hears of it before a waiter wakes up.
    if (announce) {
      std::lock_guard<std::mutex> lock(self->callbackMutex);
      if (self->callback) self->callback(event, detail);
    }
    {
      std::lock_guard<std::mutex> lock(self->waitMutex);
      if (event == StreamEvent::EndOfStream) {
        stream->ended = true;
      } else {
        stream->failed = true;
        if (stream->error.empty()) stream->error = detail;
      }
    }
    self->waitChanged.notify_all();
    return GST_BUS_DROP;
  }

  static void Dispose(std::unique_ptr<Stream>& stream) {
    if (!stream) return;
    if (stream->pipeline) {
      // NULL stops the streaming threads, so no bus message comes later.
      gst_element_set_state(stream->pipeline, GST_STATE_NULL);
      gst_object_unref(stream->pipeline);
    }
    stream.reset();
  }

  GstElement* MakeSink(const char* factory) {
    GstElement* sink = gst_element_factory_make(factory, nullptr);
    if (sink && options.fakeSinks) g_object_set(sink, "sync", options.fakeSinksSync ? TRUE : FALSE, nullptr);
    return sink;
  }

  // A paused playbin for the file, or null with lastError set.
  std::unique_ptr<Stream> Prepare(const std::string& file) {
    auto stream = std::make_unique<Stream>();
    stream->owner = this;
    stream->pipeline = gst_element_factory_make("playbin", nullptr);
    if (!stream->pipeline) {
      lastError = "no playbin";
      return nullptr;
    }
    gst_object_ref_sink(stream->pipeline);
    std::error_code ec;
    const std::string absolute = std::filesystem::absolute(file, ec).string();
    GError* error = nullptr;
    gchar* uri = gst_filename_to_uri(ec ? file.c_str() : absolute.c_str(), &error);
    if (!uri) {
      lastError = error && error->message ? error->message : "bad file name";
      if (error) g_error_free(error);
      Dispose(stream);
      return nullptr;
    }
    g_object_set(stream->pipeline, "uri", uri, nullptr);
    g_free(uri);
    if (options.fakeSinks) {
      if (GstElement* a = MakeSink("fakesink")) g_object_set(stream->pipeline, "audio-sink", a, nullptr);
      if (GstElement* v = MakeSink("fakesink")) g_object_set(stream->pipeline, "video-sink", v, nullptr);
    } else if (!options.audioDevice.empty()) {
      if (GstElement* a = gst_element_factory_make("alsasink", nullptr)) {
        g_object_set(a, "device", options.audioDevice.c_str(), nullptr);
        if (!options.audioDeviceSync) g_object_set(a, "sync", FALSE, nullptr);
        g_object_set(stream->pipeline, "audio-sink", a, nullptr);
      }
    }
    GstBus* bus = gst_element_get_bus(stream->pipeline);
    gst_bus_set_sync_handler(bus, &Impl::OnBusMessage, stream.get(), nullptr);
    gst_object_unref(bus);

    GstStateChangeReturn r = gst_element_set_state(stream->pipeline, GST_STATE_PAUSED);
    if (r != GST_STATE_CHANGE_FAILURE)
      r = gst_element_get_state(stream->pipeline, nullptr, nullptr,
                                static_cast<GstClockTime>(options.openTimeoutMs) * GST_MSECOND);
    bool failed;
    {
      std::lock_guard<std::mutex> lock(waitMutex);
      failed = stream->failed;
      if (failed) lastError = stream->error;
    }
    if (r == GST_STATE_CHANGE_ASYNC) lastError = "the file did not open in time";
    if (failed || (r != GST_STATE_CHANGE_SUCCESS && r != GST_STATE_CHANGE_NO_PREROLL)) {
      if (lastError.empty()) lastError = "the file cannot be played";
      Dispose(stream);
      return nullptr;
    }
    return stream;
  }

  void ResetEnd() {
    std::lock_guard<std::mutex> lock(waitMutex);
    if (current) current->ended = false;
  }
};

MediaPlayer::MediaPlayer(MediaPlayerOptions options) : impl_(std::make_unique<Impl>()) {
  impl_->options = std::move(options);
}

MediaPlayer::~MediaPlayer() { CloseMedia(); }

bool MediaPlayer::Available(std::string* why) { return StartGStreamer(why); }

void MediaPlayer::SetEventCallback(EventCallback callback) {
  std::lock_guard<std::mutex> lock(impl_->callbackMutex);
  impl_->callback = std::move(callback);
}

bool MediaPlayer::OpenMediaFile(const std::string& path, std::uintptr_t) {
  impl_->lastError.clear();
  if (!StartGStreamer(&impl_->lastError)) return false;
  std::error_code ec;
  if (path.empty() || !std::filesystem::is_regular_file(path, ec)) {
    impl_->lastError = "no such file";
    return false;
  }
  std::unique_ptr<Impl::Stream> stream = impl_->Prepare(path);
  if (!stream) return false;
  CloseMedia();
  gint videoStreams = 0;
  g_object_get(stream->pipeline, "n-video", &videoStreams, nullptr);
  g_object_set(stream->pipeline, "volume", 1.0, nullptr);
  {
    std::lock_guard<std::mutex> lock(impl_->waitMutex);
    stream->announce = true;
  }
  impl_->current = std::move(stream);
  impl_->path = path;
  impl_->noVideo = videoStreams == 0;
  impl_->volume = 1.0;
  return true;
}

bool MediaPlayer::PlayMedia() {
  if (!impl_->current) return false;
  return gst_element_set_state(impl_->current->pipeline, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE;
}

bool MediaPlayer::PauseMedia() {
  if (!impl_->current) return false;
  return gst_element_set_state(impl_->current->pipeline, GST_STATE_PAUSED) != GST_STATE_CHANGE_FAILURE;
}

bool MediaPlayer::RewindMedia() {
  if (!impl_->current) return false;
  GstElement* p = impl_->current->pipeline;
  if (gst_element_set_state(p, GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE) return false;
  gst_element_get_state(p, nullptr, nullptr, 2 * GST_SECOND);
  const bool ok = gst_element_seek_simple(
      p, GST_FORMAT_TIME, static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE), 0);
  impl_->ResetEnd();
  return ok;
}

bool MediaPlayer::CloseMedia() {
  if (!impl_->current) return false;
  Impl::Dispose(impl_->current);
  impl_->path.clear();
  impl_->noVideo = false;
  impl_->volume = 1.0;
  impl_->waitChanged.notify_all();
  return true;
}

int MediaPlayer::GetMediaPosition() {
  if (!impl_->current) return 0;
  gint64 position = 0;
  if (!gst_element_query_position(impl_->current->pipeline, GST_FORMAT_TIME, &position)) return 0;
  return Hundredths(position);
}

bool MediaPlayer::SetMediaPosition(int hundredths) {
  if (!impl_->current) return false;
  const gint64 seconds = hundredths > 0 ? hundredths / 100 : 0;
  const bool ok = gst_element_seek_simple(
      impl_->current->pipeline, GST_FORMAT_TIME,
      static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE), seconds * GST_SECOND);
  if (ok) {
    impl_->ResetEnd();
    // A flushing seek prerolls again; wait (briefly) so the position is the new one.
    gst_element_get_state(impl_->current->pipeline, nullptr, nullptr, 2 * GST_SECOND);
  }
  return ok;
}

int MediaPlayer::GetMediaLength() {
  if (!impl_->current) return 0;
  gint64 duration = 0;
  if (!gst_element_query_duration(impl_->current->pipeline, GST_FORMAT_TIME, &duration)) return 0;
  return Hundredths(duration);
}

bool MediaPlayer::SetMediaVolume(int volume) {
  if (!impl_->current) return false;
  impl_->volume = MediaLinearVolume(volume);
  g_object_set(impl_->current->pipeline, "volume", impl_->volume, nullptr);
  return true;
}

bool MediaPlayer::Loaded() const { return impl_->current != nullptr; }
bool MediaPlayer::NoVideo() const { return impl_->noVideo; }
const std::string& MediaPlayer::LoadedPath() const { return impl_->path; }
double MediaPlayer::LinearVolume() const { return impl_->volume; }

std::string MediaPlayer::LastError() const {
  std::lock_guard<std::mutex> lock(impl_->waitMutex);
  if (impl_->current && impl_->current->failed) return impl_->current->error;
  return impl_->lastError;
}

MediaPlayer::WaitResult MediaPlayer::WaitForEnd(int timeoutMs) {
  Impl::Stream* stream = impl_->current.get();
  if (!stream) return WaitResult::NotLoaded;
  std::unique_lock<std::mutex> lock(impl_->waitMutex);
  const std::uint64_t seen = impl_->interrupts;
  auto done = [&] { return stream->ended || stream->failed || impl_->interrupts != seen; };
  if (timeoutMs < 0)
    impl_->waitChanged.wait(lock, done);
  else
    impl_->waitChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), done);
  if (stream->failed) return WaitResult::Failed;
  if (stream->ended) return WaitResult::Ended;
  return impl_->interrupts != seen ? WaitResult::Interrupted : WaitResult::TimedOut;
}

void MediaPlayer::InterruptWait() {
  {
    std::lock_guard<std::mutex> lock(impl_->waitMutex);
    ++impl_->interrupts;
  }
  impl_->waitChanged.notify_all();
}

}  // namespace sonarvex
