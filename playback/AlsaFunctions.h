// ALSA (libasound), opened on first use by the digital CD player and the
// mixer's CD line.
//
// Include this header after the library's own headers, as the last include
// of a file that calls the library: each function named below is then
// called through the table. The library is not linked, so a call of a
// function missing from the list fails to link.
#pragma once

#include <alsa/asoundlib.h>

#include <string>

#include "platform/LazyLibraryApi.h"

#define SONARVEX_ALSA_FUNCTIONS(X) \
  X(snd_lib_error_set_handler) \
  X(snd_mixer_attach) \
  X(snd_mixer_close) \
  X(snd_mixer_elem_next) \
  X(snd_mixer_first_elem) \
  X(snd_mixer_handle_events) \
  X(snd_mixer_load) \
  X(snd_mixer_open) \
  X(snd_mixer_poll_descriptors) \
  X(snd_mixer_poll_descriptors_count) \
  X(snd_mixer_selem_get_name) \
  X(snd_mixer_selem_get_playback_switch) \
  X(snd_mixer_selem_get_playback_volume) \
  X(snd_mixer_selem_get_playback_volume_range) \
  X(snd_mixer_selem_has_playback_switch) \
  X(snd_mixer_selem_has_playback_volume) \
  X(snd_mixer_selem_is_active) \
  X(snd_mixer_selem_register) \
  X(snd_mixer_selem_set_playback_switch_all) \
  X(snd_mixer_selem_set_playback_volume_all) \
  X(snd_pcm_close) \
  X(snd_pcm_drain) \
  X(snd_pcm_drop) \
  X(snd_pcm_hw_params) \
  X(snd_pcm_hw_params_any) \
  X(snd_pcm_hw_params_can_pause) \
  X(snd_pcm_hw_params_get_period_size) \
  X(snd_pcm_hw_params_set_access) \
  X(snd_pcm_hw_params_set_buffer_time_near) \
  X(snd_pcm_hw_params_set_channels) \
  X(snd_pcm_hw_params_set_format) \
  X(snd_pcm_hw_params_set_period_time_near) \
  X(snd_pcm_hw_params_set_rate) \
  X(snd_pcm_hw_params_sizeof) \
  X(snd_pcm_open) \
  X(snd_pcm_pause) \
  X(snd_pcm_prepare) \
  X(snd_pcm_recover) \
  X(snd_pcm_state) \
  X(snd_pcm_sw_params) \
  X(snd_pcm_sw_params_current) \
  X(snd_pcm_sw_params_set_start_threshold) \
  X(snd_pcm_sw_params_sizeof) \
  X(snd_pcm_wait) \
  X(snd_pcm_writei) \
  X(snd_strerror)

namespace sonarvex::alsa {

SONARVEX_LAZY_LIBRARY_API(SONARVEX_ALSA_FUNCTIONS)

}  // namespace sonarvex::alsa

#ifndef SONARVEX_ALSA_NO_REDIRECT
#define snd_lib_error_set_handler (::sonarvex::alsa::Api().snd_lib_error_set_handler)
#define snd_mixer_attach (::sonarvex::alsa::Api().snd_mixer_attach)
#define snd_mixer_close (::sonarvex::alsa::Api().snd_mixer_close)
#define snd_mixer_elem_next (::sonarvex::alsa::Api().snd_mixer_elem_next)
#define snd_mixer_first_elem (::sonarvex::alsa::Api().snd_mixer_first_elem)
#define snd_mixer_handle_events (::sonarvex::alsa::Api().snd_mixer_handle_events)
#define snd_mixer_load (::sonarvex::alsa::Api().snd_mixer_load)
#define snd_mixer_open (::sonarvex::alsa::Api().snd_mixer_open)
#define snd_mixer_poll_descriptors (::sonarvex::alsa::Api().snd_mixer_poll_descriptors)
#define snd_mixer_poll_descriptors_count (::sonarvex::alsa::Api().snd_mixer_poll_descriptors_count)
#define snd_mixer_selem_get_name (::sonarvex::alsa::Api().snd_mixer_selem_get_name)
#define snd_mixer_selem_get_playback_switch (::sonarvex::alsa::Api().snd_mixer_selem_get_playback_switch)
#define snd_mixer_selem_get_playback_volume (::sonarvex::alsa::Api().snd_mixer_selem_get_playback_volume)
#define snd_mixer_selem_get_playback_volume_range (::sonarvex::alsa::Api().snd_mixer_selem_get_playback_volume_range)
#define snd_mixer_selem_has_playback_switch (::sonarvex::alsa::Api().snd_mixer_selem_has_playback_switch)
#define snd_mixer_selem_has_playback_volume (::sonarvex::alsa::Api().snd_mixer_selem_has_playback_volume)
#define snd_mixer_selem_is_active (::sonarvex::alsa::Api().snd_mixer_selem_is_active)
#define snd_mixer_selem_register (::sonarvex::alsa::Api().snd_mixer_selem_register)
#define snd_mixer_selem_set_playback_switch_all (::sonarvex::alsa::Api().snd_mixer_selem_set_playback_switch_all)
#define snd_mixer_selem_set_playback_volume_all (::sonarvex::alsa::Api().snd_mixer_selem_set_playback_volume_all)
#define snd_pcm_close (::sonarvex::alsa::Api().snd_pcm_close)
#define snd_pcm_drain (::sonarvex::alsa::Api().snd_pcm_drain)
#define snd_pcm_drop (::sonarvex::alsa::Api().snd_pcm_drop)
#define snd_pcm_hw_params (::sonarvex::alsa::Api().snd_pcm_hw_params)
#define snd_pcm_hw_params_any (::sonarvex::alsa::Api().snd_pcm_hw_params_any)
#define snd_pcm_hw_params_can_pause (::sonarvex::alsa::Api().snd_pcm_hw_params_can_pause)
#define snd_pcm_hw_params_get_period_size (::sonarvex::alsa::Api().snd_pcm_hw_params_get_period_size)
#define snd_pcm_hw_params_set_access (::sonarvex::alsa::Api().snd_pcm_hw_params_set_access)
#define snd_pcm_hw_params_set_buffer_time_near (::sonarvex::alsa::Api().snd_pcm_hw_params_set_buffer_time_near)
#define snd_pcm_hw_params_set_channels (::sonarvex::alsa::Api().snd_pcm_hw_params_set_channels)
#define snd_pcm_hw_params_set_format (::sonarvex::alsa::Api().snd_pcm_hw_params_set_format)
#define snd_pcm_hw_params_set_period_time_near (::sonarvex::alsa::Api().snd_pcm_hw_params_set_period_time_near)
#define snd_pcm_hw_params_set_rate (::sonarvex::alsa::Api().snd_pcm_hw_params_set_rate)
#define snd_pcm_hw_params_sizeof (::sonarvex::alsa::Api().snd_pcm_hw_params_sizeof)
#define snd_pcm_open (::sonarvex::alsa::Api().snd_pcm_open)
#define snd_pcm_pause (::sonarvex::alsa::Api().snd_pcm_pause)
#define snd_pcm_prepare (::sonarvex::alsa::Api().snd_pcm_prepare)
#define snd_pcm_recover (::sonarvex::alsa::Api().snd_pcm_recover)
#define snd_pcm_state (::sonarvex::alsa::Api().snd_pcm_state)
#define snd_pcm_sw_params (::sonarvex::alsa::Api().snd_pcm_sw_params)
#define snd_pcm_sw_params_current (::sonarvex::alsa::Api().snd_pcm_sw_params_current)
#define snd_pcm_sw_params_set_start_threshold (::sonarvex::alsa::Api().snd_pcm_sw_params_set_start_threshold)
#define snd_pcm_sw_params_sizeof (::sonarvex::alsa::Api().snd_pcm_sw_params_sizeof)
#define snd_pcm_wait (::sonarvex::alsa::Api().snd_pcm_wait)
#define snd_pcm_writei (::sonarvex::alsa::Api().snd_pcm_writei)
#define snd_strerror (::sonarvex::alsa::Api().snd_strerror)
#endif
