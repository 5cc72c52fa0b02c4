// GStreamer (with GLib and GObject), opened on first use by the media player.
//
// Include this header after the library's own headers, as the last include
// of a file that calls the library: each function named below is then
// called through the table. The library is not linked, so a call of a
// function missing from the list fails to link.
#pragma once

#include <gst/gst.h>

#include <string>

#include "platform/LazyLibraryApi.h"

#define SONARVEX_GST_FUNCTIONS(X) \
  X(g_error_free) \
  X(g_free) \
  X(g_object_get) \
  X(g_object_set) \
  X(gst_bus_set_sync_handler) \
  X(gst_element_factory_find) \
  X(gst_element_factory_make) \
  X(gst_element_get_bus) \
  X(gst_element_get_state) \
  X(gst_element_query_duration) \
  X(gst_element_query_position) \
  X(gst_element_seek_simple) \
  X(gst_element_set_state) \
  X(gst_filename_to_uri) \
  X(gst_init_check) \
  X(gst_message_parse_error) \
  X(gst_object_ref_sink) \
  X(gst_object_unref)

namespace sonarvex::gst {

SONARVEX_LAZY_LIBRARY_API(SONARVEX_GST_FUNCTIONS)

}  // namespace sonarvex::gst

#ifndef SONARVEX_GST_NO_REDIRECT
#define g_error_free (::sonarvex::gst::Api().g_error_free)
#define g_free (::sonarvex::gst::Api().g_free)
#define g_object_get (::sonarvex::gst::Api().g_object_get)
#define g_object_set (::sonarvex::gst::Api().g_object_set)
#define gst_bus_set_sync_handler (::sonarvex::gst::Api().gst_bus_set_sync_handler)
#define gst_element_factory_find (::sonarvex::gst::Api().gst_element_factory_find)
#define gst_element_factory_make (::sonarvex::gst::Api().gst_element_factory_make)
#define gst_element_get_bus (::sonarvex::gst::Api().gst_element_get_bus)
#define gst_element_get_state (::sonarvex::gst::Api().gst_element_get_state)
#define gst_element_query_duration (::sonarvex::gst::Api().gst_element_query_duration)
#define gst_element_query_position (::sonarvex::gst::Api().gst_element_query_position)
#define gst_element_seek_simple (::sonarvex::gst::Api().gst_element_seek_simple)
#define gst_element_set_state (::sonarvex::gst::Api().gst_element_set_state)
#define gst_filename_to_uri (::sonarvex::gst::Api().gst_filename_to_uri)
#define gst_init_check (::sonarvex::gst::Api().gst_init_check)
#define gst_message_parse_error (::sonarvex::gst::Api().gst_message_parse_error)
#define gst_object_ref_sink (::sonarvex::gst::Api().gst_object_ref_sink)
#define gst_object_unref (::sonarvex::gst::Api().gst_object_unref)
#endif
