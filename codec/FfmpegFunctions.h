// FFmpeg (libavutil, libswresample, libavcodec, libavformat), opened on first
// use: the WMA writer and reader, the AVI reader, the decoding of WAV formats
// and the MP3 driver of the codec layer call it through this table.
//
// Include this header after the library's own headers, as the last include
// of a file that calls the library: each function named below is then
// called through the table. The library is not linked, so a call of a
// function missing from the list fails to link.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
#include <libavutil/macros.h>
#include <libavutil/mathematics.h>
#include <libavutil/mem.h>
#include <libavutil/opt.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

#include <string>

#include "platform/LazyLibraryApi.h"

#define SONARVEX_FFMPEG_FUNCTIONS(X) \
  X(av_audio_fifo_alloc) \
  X(av_audio_fifo_free) \
  X(av_audio_fifo_read) \
  X(av_audio_fifo_size) \
  X(av_audio_fifo_write) \
  X(av_channel_layout_compare) \
  X(av_channel_layout_copy) \
  X(av_channel_layout_default) \
  X(av_channel_layout_from_mask) \
  X(av_channel_layout_uninit) \
  X(av_codec_get_id) \
  X(av_dict_get) \
  X(av_dict_set) \
  X(av_find_best_stream) \
  X(av_find_input_format) \
  X(av_frame_alloc) \
  X(av_frame_free) \
  X(av_frame_get_buffer) \
  X(av_frame_unref) \
  X(av_free) \
  X(av_freep) \
  X(av_get_bits_per_sample) \
  X(av_guess_format) \
  X(av_malloc) \
  X(av_mallocz) \
  X(av_packet_alloc) \
  X(av_packet_free) \
  X(av_packet_rescale_ts) \
  X(av_packet_unref) \
  X(av_parser_close) \
  X(av_parser_init) \
  X(av_parser_parse2) \
  X(av_read_frame) \
  X(av_rescale_q) \
  X(av_samples_alloc_array_and_samples) \
  X(av_samples_set_silence) \
  X(av_strerror) \
  X(av_write_frame) \
  X(av_write_trailer) \
  X(avcodec_alloc_context3) \
  X(avcodec_find_decoder) \
  X(avcodec_find_encoder) \
  X(avcodec_find_encoder_by_name) \
  X(avcodec_free_context) \
  X(avcodec_open2) \
  X(avcodec_parameters_from_context) \
  X(avcodec_parameters_to_context) \
  X(avcodec_receive_frame) \
  X(avcodec_receive_packet) \
  X(avcodec_send_frame) \
  X(avcodec_send_packet) \
  X(avformat_alloc_output_context2) \
  X(avformat_close_input) \
  X(avformat_find_stream_info) \
  X(avformat_free_context) \
  X(avformat_get_riff_audio_tags) \
  X(avformat_new_stream) \
  X(avformat_open_input) \
  X(avformat_write_header) \
  X(avio_alloc_context) \
  X(avio_context_free) \
  X(avio_flush) \
  X(swr_alloc_set_opts2) \
  X(swr_convert) \
  X(swr_free) \
  X(swr_get_out_samples) \
  X(swr_init)

namespace sonarvex::ffmpeg {

SONARVEX_LAZY_LIBRARY_API(SONARVEX_FFMPEG_FUNCTIONS)

}  // namespace sonarvex::ffmpeg

#ifndef SONARVEX_FFMPEG_NO_REDIRECT
#define av_audio_fifo_alloc (::sonarvex::ffmpeg::Api().av_audio_fifo_alloc)
#define av_audio_fifo_free (::sonarvex::ffmpeg::Api().av_audio_fifo_free)
#define av_audio_fifo_read (::sonarvex::ffmpeg::Api().av_audio_fifo_read)
#define av_audio_fifo_size (::sonarvex::ffmpeg::Api().av_audio_fifo_size)
#define av_audio_fifo_write (::sonarvex::ffmpeg::Api().av_audio_fifo_write)
#define av_channel_layout_compare (::sonarvex::ffmpeg::Api().av_channel_layout_compare)
#define av_channel_layout_copy (::sonarvex::ffmpeg::Api().av_channel_layout_copy)
#define av_channel_layout_default (::sonarvex::ffmpeg::Api().av_channel_layout_default)
#define av_channel_layout_from_mask (::sonarvex::ffmpeg::Api().av_channel_layout_from_mask)
#define av_channel_layout_uninit (::sonarvex::ffmpeg::Api().av_channel_layout_uninit)
#define av_codec_get_id (::sonarvex::ffmpeg::Api().av_codec_get_id)
#define av_dict_get (::sonarvex::ffmpeg::Api().av_dict_get)
#define av_dict_set (::sonarvex::ffmpeg::Api().av_dict_set)
#define av_find_best_stream (::sonarvex::ffmpeg::Api().av_find_best_stream)
#define av_find_input_format (::sonarvex::ffmpeg::Api().av_find_input_format)
#define av_frame_alloc (::sonarvex::ffmpeg::Api().av_frame_alloc)
#define av_frame_free (::sonarvex::ffmpeg::Api().av_frame_free)
#define av_frame_get_buffer (::sonarvex::ffmpeg::Api().av_frame_get_buffer)
#define av_frame_unref (::sonarvex::ffmpeg::Api().av_frame_unref)
#define av_free (::sonarvex::ffmpeg::Api().av_free)
#define av_freep (::sonarvex::ffmpeg::Api().av_freep)
#define av_get_bits_per_sample (::sonarvex::ffmpeg::Api().av_get_bits_per_sample)
#define av_guess_format (::sonarvex::ffmpeg::Api().av_guess_format)
#define av_malloc (::sonarvex::ffmpeg::Api().av_malloc)
#define av_mallocz (::sonarvex::ffmpeg::Api().av_mallocz)
#define av_packet_alloc (::sonarvex::ffmpeg::Api().av_packet_alloc)
#define av_packet_free (::sonarvex::ffmpeg::Api().av_packet_free)
#define av_packet_rescale_ts (::sonarvex::ffmpeg::Api().av_packet_rescale_ts)
#define av_packet_unref (::sonarvex::ffmpeg::Api().av_packet_unref)
#define av_parser_close (::sonarvex::ffmpeg::Api().av_parser_close)
#define av_parser_init (::sonarvex::ffmpeg::Api().av_parser_init)
#define av_parser_parse2 (::sonarvex::ffmpeg::Api().av_parser_parse2)
#define av_read_frame (::sonarvex::ffmpeg::Api().av_read_frame)
#define av_rescale_q (::sonarvex::ffmpeg::Api().av_rescale_q)
#define av_samples_alloc_array_and_samples (::sonarvex::ffmpeg::Api().av_samples_alloc_array_and_samples)
#define av_samples_set_silence (::sonarvex::ffmpeg::Api().av_samples_set_silence)
#define av_strerror (::sonarvex::ffmpeg::Api().av_strerror)
#define av_write_frame (::sonarvex::ffmpeg::Api().av_write_frame)
#define av_write_trailer (::sonarvex::ffmpeg::Api().av_write_trailer)
#define avcodec_alloc_context3 (::sonarvex::ffmpeg::Api().avcodec_alloc_context3)
#define avcodec_find_decoder (::sonarvex::ffmpeg::Api().avcodec_find_decoder)
#define avcodec_find_encoder (::sonarvex::ffmpeg::Api().avcodec_find_encoder)
#define avcodec_find_encoder_by_name (::sonarvex::ffmpeg::Api().avcodec_find_encoder_by_name)
#define avcodec_free_context (::sonarvex::ffmpeg::Api().avcodec_free_context)
#define avcodec_open2 (::sonarvex::ffmpeg::Api().avcodec_open2)
#define avcodec_parameters_from_context (::sonarvex::ffmpeg::Api().avcodec_parameters_from_context)
#define avcodec_parameters_to_context (::sonarvex::ffmpeg::Api().avcodec_parameters_to_context)
#define avcodec_receive_frame (::sonarvex::ffmpeg::Api().avcodec_receive_frame)
#define avcodec_receive_packet (::sonarvex::ffmpeg::Api().avcodec_receive_packet)
#define avcodec_send_frame (::sonarvex::ffmpeg::Api().avcodec_send_frame)
#define avcodec_send_packet (::sonarvex::ffmpeg::Api().avcodec_send_packet)
#define avformat_alloc_output_context2 (::sonarvex::ffmpeg::Api().avformat_alloc_output_context2)
#define avformat_close_input (::sonarvex::ffmpeg::Api().avformat_close_input)
#define avformat_find_stream_info (::sonarvex::ffmpeg::Api().avformat_find_stream_info)
#define avformat_free_context (::sonarvex::ffmpeg::Api().avformat_free_context)
#define avformat_get_riff_audio_tags (::sonarvex::ffmpeg::Api().avformat_get_riff_audio_tags)
#define avformat_new_stream (::sonarvex::ffmpeg::Api().avformat_new_stream)
#define avformat_open_input (::sonarvex::ffmpeg::Api().avformat_open_input)
#define avformat_write_header (::sonarvex::ffmpeg::Api().avformat_write_header)
#define avio_alloc_context (::sonarvex::ffmpeg::Api().avio_alloc_context)
#define avio_context_free (::sonarvex::ffmpeg::Api().avio_context_free)
#define avio_flush (::sonarvex::ffmpeg::Api().avio_flush)
#define swr_alloc_set_opts2 (::sonarvex::ffmpeg::Api().swr_alloc_set_opts2)
#define swr_convert (::sonarvex::ffmpeg::Api().swr_convert)
#define swr_free (::sonarvex::ffmpeg::Api().swr_free)
#define swr_get_out_samples (::sonarvex::ffmpeg::Api().swr_get_out_samples)
#define swr_init (::sonarvex::ffmpeg::Api().swr_init)
#endif
