# The Windows programs: the launcher, and the helpers its tests and the sample
# installation need. Built once for i686 (what ships) and once for x86_64 (runs under Wine).
enable_language(RC)

set(KV_LZSS_TOOL "" CACHE FILEPATH "The host LZSS encoder that makes the payload container")
set(KV_UPDATE_PROGRAM "" CACHE FILEPATH
    "The update program to embed; empty for the sample update program built here")

# Reproducible programs: no link timestamp, no build paths.
add_link_options(-Wl,--no-insert-timestamp)
add_compile_options(-ffile-prefix-map=${CMAKE_SOURCE_DIR}=.)

add_executable(KvWin101 WIN32
  app/update_app.cpp
  ui/update_dlg.cpp
  platform/afxwin.cpp
  platform/win32_platform.cpp
  res/KvWin101.rc)
target_link_libraries(KvWin101 PRIVATE kv_logic)
target_compile_options(KvWin101 PRIVATE ${KV_CHARSET_OPTIONS})
target_include_directories(KvWin101 PRIVATE ${CMAKE_SOURCE_DIR}/res)
# Statically linked: the program imports system DLLs only.
target_link_options(KvWin101 PRIVATE -static -mwindows -s)

if(KV_LZSS_TOOL)
  include(cmake/payload.cmake)
endif()

# Helper programs of the end-to-end tests (driver, file holder, test update programs).
include(cmake/windows_e2e.cmake OPTIONAL)
