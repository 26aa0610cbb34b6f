# The payload: the update program, compressed into its container by the host
# encoder (KV_LZSS_TOOL, the native build's kvlzss), embedded in the launcher
# as resource "LZT"/"UPEXE" beside its integrity record "LZT"/"UPSUM".
#
#   kv_embed_payload(<launcher target> <update program>)
#     Makes <build>/payload/<launcher>/payload.lzt and payload.sum from the
#     update program (a file, or the name of a target of this build) and builds
#     the launcher's resource script (through a wrapper in that folder) with
#     KV_WITH_PAYLOAD and that folder on its include path. A changed program remakes the container and the resources.
#     An update program larger than the launcher's payload area fails the build
#     with the encoder's message. The folder also gets update_program.txt,
#     naming the program that went in.
#
#   kv_add_launcher(<new target> <update program>)
#     A further launcher, built from KvWin101's sources with its options, that
#     embeds another update program (for test builds of the launcher).
#
# KvWin101 itself embeds KV_UPDATE_PROGRAM, or the sample update program below
# when that is empty.

if(NOT EXISTS "${KV_LZSS_TOOL}")
  message(FATAL_ERROR "KV_LZSS_TOOL is ${KV_LZSS_TOOL}, which does not exist: "
                      "build the native tools first (make native, or cmake --build <native build> --target kvlzss)")
endif()

# The sample update program: freshens the six installed files in its current
# directory. Small, static, GUI subsystem.
add_executable(kv_sample_update WIN32 ${CMAKE_SOURCE_DIR}/tools/sample_update/sample_update.cpp)
set_target_properties(kv_sample_update PROPERTIES OUTPUT_NAME update_sample)
target_link_options(kv_sample_update PRIVATE -static -mwindows -s)

# What a launcher is made of, taken before any payload is added to KvWin101.
set(kv_launcher_sources)
get_target_property(kv_sources KvWin101 SOURCES)
foreach(source IN LISTS kv_sources)
  get_filename_component(source "${source}" ABSOLUTE BASE_DIR ${CMAKE_SOURCE_DIR})
  list(APPEND kv_launcher_sources "${source}")
endforeach()
set_property(GLOBAL PROPERTY KV_LAUNCHER_SOURCES "${kv_launcher_sources}")
foreach(property IN ITEMS LINK_LIBRARIES COMPILE_OPTIONS COMPILE_DEFINITIONS INCLUDE_DIRECTORIES LINK_OPTIONS)
  get_target_property(value KvWin101 ${property})
  if(NOT value)
    set(value "")
  endif()
  set_property(GLOBAL PROPERTY KV_LAUNCHER_${property} "${value}")
endforeach()

function(kv_embed_payload launcher program)
  set(dir ${CMAKE_BINARY_DIR}/payload/${launcher})
  if(TARGET ${program})
    set(file "$<TARGET_FILE:${program}>")
    set(depends ${program})
  else()
    get_filename_component(file "${program}" ABSOLUTE BASE_DIR ${CMAKE_SOURCE_DIR})
    if(NOT EXISTS "${file}" OR IS_DIRECTORY "${file}")
      message(FATAL_ERROR "The update program ${file} for ${launcher} does not exist")
    endif()
    set(depends "${file}")
  endif()
  add_custom_command(
    OUTPUT ${dir}/payload.lzt ${dir}/payload.sum
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
    COMMAND ${KV_LZSS_TOOL} encode ${file} ${dir}/payload.lzt --digest ${dir}/payload.sum
    DEPENDS ${depends} ${KV_LZSS_TOOL}
    COMMENT "Compressing the update program into the payload of ${launcher}"
    VERBATIM)
  file(GENERATE OUTPUT ${dir}/update_program.txt CONTENT "${file}\n")
  # The launcher's resource script is compiled through a wrapper of its own,
  # so that only this launcher's resources depend on this payload (windres
  # reads the payload files itself, so they are named as its dependencies).
  get_target_property(sources ${launcher} SOURCES)
  get_target_property(base ${launcher} SOURCE_DIR)
  set(kept)
  set(script)
  foreach(source IN LISTS sources)
    if(source MATCHES "\\.rc$")
      get_filename_component(script "${source}" ABSOLUTE BASE_DIR ${base})
    else()
      list(APPEND kept "${source}")
    endif()
  endforeach()
  if(NOT script)
    message(FATAL_ERROR "${launcher} has no resource script to carry the payload")
  endif()
  get_filename_component(name "${script}" NAME)
  set(wrapper ${dir}/${name})
  file(CONFIGURE OUTPUT ${wrapper} CONTENT "#include \"${script}\"\n")
  set_property(SOURCE ${wrapper} TARGET_DIRECTORY ${launcher}
               APPEND PROPERTY OBJECT_DEPENDS ${dir}/payload.lzt ${dir}/payload.sum)
  set_property(TARGET ${launcher} PROPERTY SOURCES ${kept} ${wrapper} ${dir}/payload.lzt ${dir}/payload.sum)
  # Only the resource script sees the payload's folder and KV_WITH_PAYLOAD.
  target_compile_definitions(${launcher} PRIVATE $<$<COMPILE_LANGUAGE:RC>:KV_WITH_PAYLOAD>)
  target_include_directories(${launcher} BEFORE PRIVATE $<$<COMPILE_LANGUAGE:RC>:${dir}>)
endfunction()

function(kv_add_launcher name program)
  get_property(sources GLOBAL PROPERTY KV_LAUNCHER_SOURCES)
  add_executable(${name} WIN32 ${sources})
  foreach(property IN ITEMS LINK_LIBRARIES COMPILE_OPTIONS COMPILE_DEFINITIONS INCLUDE_DIRECTORIES LINK_OPTIONS)
    get_property(value GLOBAL PROPERTY KV_LAUNCHER_${property})
    set_property(TARGET ${name} PROPERTY ${property} "${value}")
  endforeach()
  kv_embed_payload(${name} ${program})
endfunction()

if(KV_UPDATE_PROGRAM)
  kv_embed_payload(KvWin101 "${KV_UPDATE_PROGRAM}")
else()
  kv_embed_payload(KvWin101 kv_sample_update)
endif()
