// kelpra_bench [-r ROUNDS] FILE...
//
// Decodes every FILE with libkelpra's ConvertMP3ToWAV (no WAV output, PCM
// through the event callback) and with FFmpeg's decoder through libavformat
// and libavcodec (mp3float / mp2float / mp1float, one thread), in the same
// process: a warm-up run of each, then ROUNDS runs alternating which goes
// first; prints seconds of audio decoded per second for both from the median
// run (with the spread of the runs), their ratio and the load average. Both
// decoders read the file from the page cache.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "bench/common/BenchStats.h"
#include "kelpra/Mp3DecoderOptions.h"

extern "C" void ConvertMP3ToWAV(MP3_DECODER_OPTIONS* options);

namespace {

uint64_t gSink = 0;
uint64_t gBytes = 0;

uint8_t OnEvent(MP3_DECODER_OPTIONS*, int32_t event, intptr_t a, intptr_t b) {
  if (event == MP3_EVENT_BATCH && b > 0) {
    gSink += reinterpret_cast<const uint8_t*>(a)[b / 2];
    gBytes += uint64_t(b);
  }
  return 1;
}

// Seconds of audio decoded by libkelpra.
double Kelpra(const std::string& path) {
  MP3_DECODER_OPTIONS o;
  std::memset(&o, 0, sizeof o);
  uint8_t status = 0;
  o.inputFile = path.c_str();
  o.eventCallback = OnEvent;
  o.status = &status;
  gBytes = 0;
  ConvertMP3ToWAV(&o);
  const double perSecond = double(o.waveFormat.avgBytesPerSec);
  return perSecond > 0 ? double(gBytes) / perSecond : 0;
}

// Seconds of audio decoded by FFmpeg.
double Ffmpeg(const std::string& path) {
  AVFormatContext* fmt = nullptr;
  if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0) return 0;
  double seconds = 0;
  if (avformat_find_stream_info(fmt, nullptr) >= 0) {
    const int si = av_find_best_stream(fmt, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (si >= 0) {
      const AVCodecParameters* par = fmt->streams[si]->codecpar;
      const char* name = par->codec_id == AV_CODEC_ID_MP3   ? "mp3float"
                         : par->codec_id == AV_CODEC_ID_MP2 ? "mp2float"
                                                            : "mp1float";
      const AVCodec* codec = avcodec_find_decoder_by_name(name);
      if (!codec) codec = avcodec_find_decoder(par->codec_id);
      AVCodecContext* ctx = avcodec_alloc_context3(codec);
      avcodec_parameters_to_context(ctx, par);
      ctx->thread_count = 1;
      if (avcodec_open2(ctx, codec, nullptr) >= 0) {
        AVPacket* pkt = av_packet_alloc();
        AVFrame* frame = av_frame_alloc();
        int64_t samples = 0;
        auto drain = [&] {
          while (avcodec_receive_frame(ctx, frame) >= 0) {
            samples += frame->nb_samples;
            gSink += frame->data[0][0];
          }
        };
        while (av_read_frame(fmt, pkt) >= 0) {
          if (pkt->stream_index == si && avcodec_send_packet(ctx, pkt) >= 0) drain();
          av_packet_unref(pkt);
        }
        avcodec_send_packet(ctx, nullptr);
        drain();
        seconds = ctx->sample_rate > 0 ? double(samples) / ctx->sample_rate : 0;
        av_frame_free(&frame);
        av_packet_free(&pkt);
      }
      avcodec_free_context(&ctx);
    }
  }
  avformat_close_input(&fmt);
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 5;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-r") == 0 && i + 1 < argc)
      rounds = std::atoi(argv[++i]);
    else
      files.push_back(argv[i]);
  }
  if (files.empty()) {
    std::fprintf(stderr, "usage: kelpra_bench [-r ROUNDS] FILE...\n");
    return 2;
  }
  av_log_set_level(AV_LOG_ERROR);
  using Clock = std::chrono::steady_clock;
  // One run decodes every file; its audio seconds are the same every run.
  double oursAudio = 0, ffAudio = 0;
  auto all = [&](double (*decode)(const std::string&), double* audio) {
    const auto t0 = Clock::now();
    double total = 0;
    for (const std::string& f : files) total += decode(f);
    *audio = total;
    return total > 0 ? std::chrono::duration<double>(Clock::now() - t0).count() : -1.0;
  };
  const sonarvex::bench::Pair p = sonarvex::bench::ComparePaired(
      rounds, [&] { return all(Kelpra, &oursAudio); }, [&] { return all(Ffmpeg, &ffAudio); });
  if (p.ratio <= 0) {
    std::fprintf(stderr, "nothing decoded\n");
    return 1;
  }
  std::printf("libkelpra: %.1f s of audio per second (%.2f s of audio in %s)\n", oursAudio / p.ours.median,
              oursAudio, sonarvex::bench::SpreadText(p.ours, "s", 3).c_str());
  std::printf("FFmpeg:    %.1f s of audio per second (%.2f s of audio in %s)\n", ffAudio / p.peer.median,
              ffAudio, sonarvex::bench::SpreadText(p.peer, "s", 3).c_str());
  std::printf("ratio libkelpra / FFmpeg: %.2f of FFmpeg's speed, medians of %d runs after a warm-up, "
              "alternated; load %s   (checksum %llu)\n",
              (oursAudio / p.ours.median) / (ffAudio / p.peer.median), p.ours.runs, p.load.c_str(),
              static_cast<unsigned long long>(gSink & 0xff));
  return 0;
}
