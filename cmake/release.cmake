# What makes the deliverables a release: the same bytes from every build of
# the same commit, and the hardening an administrator checks for.

if(CMAKE_VERSION VERSION_LESS 3.21)
  message(FATAL_ERROR "The release build needs CMake 3.21 or later (linker launchers)")
endif()

# The PE time stamps come from SOURCE_DATE_EPOCH, which the linker and strip
# both honour; by default the time of the commit being built. Passed on the
# deliverables' link and strip command lines, so that a new value relinks
# them (and nothing else).
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(KELDRA_SOURCE_DATE_EPOCH $ENV{SOURCE_DATE_EPOCH})
else()
  execute_process(COMMAND git log -1 --format=%ct
                  WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
                  OUTPUT_VARIABLE KELDRA_SOURCE_DATE_EPOCH
                  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(NOT KELDRA_SOURCE_DATE_EPOCH)
    set(KELDRA_SOURCE_DATE_EPOCH 0)
  endif()
endif()
if(NOT KELDRA_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
  message(FATAL_ERROR "SOURCE_DATE_EPOCH must be seconds since 1970, not '${KELDRA_SOURCE_DATE_EPOCH}'")
endif()
set(KELDRA_WITH_EPOCH ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${KELDRA_SOURCE_DATE_EPOCH})

# No build directory inside the binaries (__FILE__ in assertions and
# exception locations). GCC tries the last map first, so the build
# directory, which lies inside the source directory, comes last.
add_compile_options(-ffile-prefix-map=${CMAKE_SOURCE_DIR}=. -ffile-prefix-map=${CMAKE_BINARY_DIR}=build)

# Stack protection and fortified C library calls (both from libssp, linked
# statically), ASLR with high entropy and DEP. The three linker flags are
# binutils' defaults today; named here so that no toolchain drops them.
add_compile_options(-fstack-protector-strong -D_FORTIFY_SOURCE=2)
add_link_options(-fstack-protector-strong -Wl,--dynamicbase,--high-entropy-va,--nxcompat)
# libssp fills the stack guard through CryptoAPI, an import that Windows
# forwards to a DLL looked for beside the program and that loads user32 and
# gdi32 into the process; every program built with these flags links this
# object instead, which defines the guard and its failure calls (its source
# says why), so that libssp's own are never linked.
add_library(keldra_stack_guard OBJECT ${CMAKE_SOURCE_DIR}/resources/stack_guard_win.c)
set(KELDRA_STACK_GUARD_SEED $<TARGET_OBJECTS:keldra_stack_guard>)

# A deliverable is stripped after linking; the linked image, with its symbol
# table, stays in <build>/unstripped for the checks that need symbols.
set(KELDRA_UNSTRIPPED_DIR ${CMAKE_BINARY_DIR}/unstripped)
function(keldra_release_binary target)
  set_target_properties(${target} PROPERTIES
    C_LINKER_LAUNCHER "${KELDRA_WITH_EPOCH}" CXX_LINKER_LAUNCHER "${KELDRA_WITH_EPOCH}")
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E make_directory ${KELDRA_UNSTRIPPED_DIR}
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${target}> ${KELDRA_UNSTRIPPED_DIR}/
    COMMAND ${KELDRA_WITH_EPOCH} ${CMAKE_STRIP} --strip-all $<TARGET_FILE:${target}>
    VERBATIM)
endfunction()
