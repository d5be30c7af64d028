# Hardened Linux binaries, after Debian's dpkg-buildflags with hardening=+all:
# stack protector, format checks, fortified libc calls where the code is
# optimised, and relocations made read-only and bound at start (relro, now).
# Executables are position-independent by the compiler's default. Fuzz builds
# and sanitizer builds bring their own instrumentation and are left alone.
if(CMAKE_SYSTEM_NAME STREQUAL "Linux" AND NOT BW_FUZZ AND NOT BW_SANITIZE)
    add_compile_options(-fstack-protector-strong -Wformat -Werror=format-security)
    # -U first: some compilers define it already, and a redefinition warns.
    add_compile_options($<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE>
                        $<$<NOT:$<CONFIG:Debug>>:-D_FORTIFY_SOURCE=2>)
    add_link_options(-Wl,-z,relro -Wl,-z,now)
endif()
