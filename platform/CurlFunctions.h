// libcurl, opened on first use by the HTTP client (it brings its TLS stack,
// Kerberos, LDAP, ... with it).
//
// Include this header after the library's own headers, as the last include
// of a file that calls the library: each function named below is then
// called through the table. The library is not linked, so a call of a
// function missing from the list fails to link.
#pragma once

#include <curl/curl.h>

#include <string>

#include "platform/LazyLibraryApi.h"

#define SONARVEX_CURL_FUNCTIONS(X) \
  X(curl_easy_cleanup) \
  X(curl_easy_getinfo) \
  X(curl_easy_init) \
  X(curl_easy_setopt) \
  X(curl_easy_strerror) \
  X(curl_global_init) \
  X(curl_multi_add_handle) \
  X(curl_multi_cleanup) \
  X(curl_multi_info_read) \
  X(curl_multi_init) \
  X(curl_multi_perform) \
  X(curl_multi_poll) \
  X(curl_multi_remove_handle) \
  X(curl_slist_append) \
  X(curl_slist_free_all)

namespace sonarvex::curl {

SONARVEX_LAZY_LIBRARY_API(SONARVEX_CURL_FUNCTIONS)

}  // namespace sonarvex::curl

#ifndef SONARVEX_CURL_NO_REDIRECT
#define curl_easy_cleanup (::sonarvex::curl::Api().curl_easy_cleanup)
#undef curl_easy_getinfo  // curl.h's own macro only counts the arguments
#define curl_easy_getinfo (::sonarvex::curl::Api().curl_easy_getinfo)
#define curl_easy_init (::sonarvex::curl::Api().curl_easy_init)
#undef curl_easy_setopt  // curl.h's own macro only counts the arguments
#define curl_easy_setopt (::sonarvex::curl::Api().curl_easy_setopt)
#define curl_easy_strerror (::sonarvex::curl::Api().curl_easy_strerror)
#define curl_global_init (::sonarvex::curl::Api().curl_global_init)
#define curl_multi_add_handle (::sonarvex::curl::Api().curl_multi_add_handle)
#define curl_multi_cleanup (::sonarvex::curl::Api().curl_multi_cleanup)
#define curl_multi_info_read (::sonarvex::curl::Api().curl_multi_info_read)
#define curl_multi_init (::sonarvex::curl::Api().curl_multi_init)
#define curl_multi_perform (::sonarvex::curl::Api().curl_multi_perform)
#define curl_multi_poll (::sonarvex::curl::Api().curl_multi_poll)
#define curl_multi_remove_handle (::sonarvex::curl::Api().curl_multi_remove_handle)
#define curl_slist_append (::sonarvex::curl::Api().curl_slist_append)
#define curl_slist_free_all (::sonarvex::curl::Api().curl_slist_free_all)
#endif
