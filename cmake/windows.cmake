# Helpers for the Windows (MinGW-w64) side of the build.

set(ZEL_WINE_IDL_DIR /usr/include/wine/wine/windows CACHE PATH "Standard .idl files (libwine-dev)")

# Everything links libgcc, libstdc++ and winpthread statically: the DLLs and
# test programs then import only Windows system DLLs.
add_link_options(-static -static-libgcc -static-libstdc++)
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0600)

# zel_idl(<name> <idl file>): runs widl on the file and defines, in the
# current binary dir, <name>.h, <name>_i.c and <name>.tlb.  Sets
# <name>_IDL_OUTPUTS to the generated header and GUID source.
function(zel_idl name idl)
  set(out ${CMAKE_CURRENT_BINARY_DIR})
  add_custom_command(
    OUTPUT ${out}/${name}.h ${out}/${name}_i.c ${out}/${name}.tlb
    COMMAND ${ZEL_WIDL} --${ZEL_WINE_ARCH} -I${ZEL_WINE_IDL_DIR} -L${ZEL_STDOLE_DIR}
            -h -H ${out}/${name}.h -u -U ${out}/${name}_i.c -t -T ${out}/${name}.tlb
            ${CMAKE_CURRENT_SOURCE_DIR}/${idl}
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${idl}
    COMMENT "widl ${idl}"
    VERBATIM)
  set(${name}_IDL_OUTPUTS ${out}/${name}.h ${out}/${name}_i.c PARENT_SCOPE)
  set(${name}_TLB ${out}/${name}.tlb PARENT_SCOPE)
endfunction()

# zel_com_dll(<target> <def file> sources...): an in-process server DLL named
# <target>.dll in bin/, exporting the four COM entry points.
function(zel_com_dll target def)
  add_library(${target} SHARED ${ARGN} ${def})
  set_target_properties(${target} PROPERTIES PREFIX "" OUTPUT_NAME ${target})
  target_link_options(${target} PRIVATE -Wl,--enable-stdcall-fixup)
  target_link_libraries(${target} PRIVATE oleaut32 ole32 uuid advapi32 user32)
endfunction()

# The version the DLLs' version resources, the release archives and the
# installer packages carry: the project's version unless the cache says
# otherwise (a build with a bumped version, for trying an upgrade).  Up to
# four numbers; missing ones are 0.
set(ZEL_VERSION ${PROJECT_VERSION} CACHE STRING "Version of the DLLs and packages (default: the project's)")
if(NOT ZEL_VERSION MATCHES "^[0-9]+(\\.[0-9]+)?(\\.[0-9]+)?(\\.[0-9]+)?$")
  message(FATAL_ERROR "ZEL_VERSION must be one to four numbers separated by dots, not '${ZEL_VERSION}'")
endif()
string(REPLACE "." ";" zel_version_parts "${ZEL_VERSION}.0.0.0")
list(GET zel_version_parts 0 ZEL_VERSION_MAJOR)
list(GET zel_version_parts 1 ZEL_VERSION_MINOR)
list(GET zel_version_parts 2 ZEL_VERSION_PATCH)
list(GET zel_version_parts 3 ZEL_VERSION_TWEAK)
set(ZEL_VERSION_FULL "${ZEL_VERSION_MAJOR}.${ZEL_VERSION_MINOR}.${ZEL_VERSION_PATCH}.${ZEL_VERSION_TWEAK}")
string(TIMESTAMP ZEL_COPYRIGHT_YEAR "%Y" UTC)
# Included by each DLL's .rc; the build tree's top folder is on their include path.
configure_file(${CMAKE_CURRENT_LIST_DIR}/versioninfo.rc.in ${CMAKE_BINARY_DIR}/zel_versioninfo.rc @ONLY)

# The same resource with the next patch version, for the DLLs of
# zel_next_version_dll.
function(zel_configure_next_versioninfo)
  math(EXPR ZEL_VERSION_PATCH "${ZEL_VERSION_PATCH} + 1")
  set(ZEL_VERSION_FULL "${ZEL_VERSION_MAJOR}.${ZEL_VERSION_MINOR}.${ZEL_VERSION_PATCH}.${ZEL_VERSION_TWEAK}")
  set(ZEL_NEXT_VERSION_FULL ${ZEL_VERSION_FULL} PARENT_SCOPE)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/versioninfo.rc.in ${CMAKE_BINARY_DIR}/next/zel_versioninfo.rc @ONLY)
endfunction()
zel_configure_next_versioninfo()

# zel_next_version_dll(<target>): the DLL <target> built again from the same
# sources and libraries, with the next patch version in its version resource,
# as next/bin/<target>.dll: the newer build the installer tests upgrade to.
# Only the DLL's own sources are compiled again; the libraries are shared.
function(zel_next_version_dll target)
  get_target_property(sources ${target} SOURCES)
  get_target_property(links ${target} LINK_LIBRARIES)
  get_target_property(includes ${target} INCLUDE_DIRECTORIES)
  get_target_property(options ${target} LINK_OPTIONS)
  set(next ${target}_next)
  add_library(${next} SHARED ${sources})
  set_target_properties(${next} PROPERTIES PREFIX "" OUTPUT_NAME ${target}
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/next/bin ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/next/lib)
  # The next version's resource is found before the build's own.
  target_include_directories(${next} BEFORE PRIVATE ${CMAKE_BINARY_DIR}/next)
  target_include_directories(${next} PRIVATE ${includes})
  target_link_libraries(${next} PRIVATE ${links})
  if(options)
    target_link_options(${next} PRIVATE ${options})
  endif()
endfunction()
