# The Debian package: the plug-in in /usr/lib/vst (where Debian's own VST 2
# plug-ins live and hosts look), the LV2 bundle in /usr/lib/lv2, the CLAP plug-in in /usr/lib/clap,
# the VST3 bundle in /usr/lib/vst3, kv23 in /usr/bin with its man page, and the
# licence. Its files form the component "release", which a plain
# `cmake --install` leaves out (that one still copies the plug-in into
# ~/.vst); scripts/package.sh builds kv_release_files and runs cpack, which
# installs only this component.
#
# The package version is the project's version. The plug-in's vendor version
# (1110, what hosts store with a session) is part of its fixed identity and
# does not follow it; 1.1.10 happens to read as 1110.
set(KV_PACKAGE_NAME kv23-t-zudiz)
set(KV_MAINTAINER "Harrow Quill <kv23@harrowquill.example>")
set(kv_release_dir ${CMAKE_BINARY_DIR}/release)
set(kv_doc_dir share/doc/${KV_PACKAGE_NAME})

# The man page, made from `kv23 --help`, `kv23 --version` and each command's
# --help (help2man dates it by SOURCE_DATE_EPOCH when that is set).
find_program(KV_HELP2MAN help2man)
find_program(KV_GZIP gzip REQUIRED)
if(KV_HELP2MAN)
  add_custom_command(OUTPUT ${kv_release_dir}/kv23.1.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${kv_release_dir}
    COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/kv23_man.sh $<TARGET_FILE:kv23> ${kv_release_dir}/kv23.1
    COMMAND ${KV_GZIP} -9nf ${kv_release_dir}/kv23.1
    DEPENDS kv23 ${CMAKE_CURRENT_LIST_DIR}/kv23_man.sh
    VERBATIM)
else()
  add_custom_command(OUTPUT ${kv_release_dir}/kv23.1.gz
    COMMAND ${CMAKE_COMMAND} -E echo "help2man is missing (apt-get install help2man)"
    COMMAND ${CMAKE_COMMAND} -E false)
endif()

# Debian wants the licence as /usr/share/doc/PACKAGE/copyright, in its
# machine-readable format: the licence text indented, empty lines as " .".
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)
file(READ ${PROJECT_SOURCE_DIR}/LICENSE kv_license)
string(REGEX REPLACE "\n$" "" kv_license "${kv_license}")
string(REPLACE "\n\n" "\n.\n" kv_license "${kv_license}")
string(REPLACE "\n" "\n " kv_license "${kv_license}")
file(WRITE ${kv_release_dir}/copyright
  "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
  "Upstream-Name: KV23-T ZuDiz\n"
  "Upstream-Contact: ${KV_MAINTAINER}\n"
  "\n"
  "Files: *\n"
  "Copyright: 2026 Harrow Quill\n"
  "License: Expat\n"
  " ${kv_license}\n")

# A package built outside Debian's tools is "native": its changelog is
# changelog.gz, one entry for this version, dated at configuration (or at
# SOURCE_DATE_EPOCH, which string(TIMESTAMP) follows).
string(TIMESTAMP kv_changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE ${kv_release_dir}/changelog
  "${KV_PACKAGE_NAME} (${PROJECT_VERSION}) unstable; urgency=medium\n"
  "\n"
  "  * Release ${PROJECT_VERSION}: the KV23-T ZuDiz VST 2.4 plug-in and kv23.\n"
  "\n"
  " -- ${KV_MAINTAINER}  ${kv_changelog_date}\n")
add_custom_command(OUTPUT ${kv_release_dir}/changelog.gz
  COMMAND ${KV_GZIP} -9nkf ${kv_release_dir}/changelog
  DEPENDS ${kv_release_dir}/changelog
  VERBATIM)

add_custom_target(kv_release_files
  DEPENDS ${kv_release_dir}/kv23.1.gz ${kv_release_dir}/changelog.gz)
add_dependencies(kv_release_files kv23 KV23-T-ZuDiz KV23-T-ZuDiz-lv2 KV23-T-ZuDiz-lv2-ui
  KV23-T-ZuDiz-clap KV23-T-ZuDiz-vst3)

install(TARGETS KV23-T-ZuDiz LIBRARY DESTINATION lib/vst COMPONENT release EXCLUDE_FROM_ALL)
install(TARGETS KV23-T-ZuDiz-lv2 KV23-T-ZuDiz-lv2-ui LIBRARY DESTINATION lib/lv2/KV23-T-ZuDiz.lv2
        COMPONENT release EXCLUDE_FROM_ALL)
install(FILES ${KV_LV2_BUNDLE}/manifest.ttl ${KV_LV2_BUNDLE}/KV23-T-ZuDiz.ttl
        DESTINATION lib/lv2/KV23-T-ZuDiz.lv2 COMPONENT release EXCLUDE_FROM_ALL)
install(TARGETS KV23-T-ZuDiz-clap LIBRARY DESTINATION lib/clap COMPONENT release EXCLUDE_FROM_ALL)
install(TARGETS KV23-T-ZuDiz-vst3 LIBRARY DESTINATION lib/vst3/KV23-T-ZuDiz.vst3/Contents/x86_64-linux
        COMPONENT release EXCLUDE_FROM_ALL)
install(TARGETS kv23 RUNTIME DESTINATION bin COMPONENT release EXCLUDE_FROM_ALL)
install(FILES ${kv_release_dir}/kv23.1.gz DESTINATION share/man/man1
        COMPONENT release EXCLUDE_FROM_ALL)
install(FILES ${kv_release_dir}/copyright ${kv_release_dir}/changelog.gz
        DESTINATION ${kv_doc_dir} COMPONENT release EXCLUDE_FROM_ALL)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${KV_PACKAGE_NAME})
set(CPACK_PACKAGE_VENDOR "Harrow Quill")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${KV_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "op-amp drive stage as a VST 2.4 plug-in, with its own host")
# CPack puts the summary above this as the first line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "KV23-T ZuDiz models an op-amp drive stage on two channels: a switchable
+10 dB boost and -10 dB pad, an error-function saturator driven from -8 to
+24 dB, a 15 Hz high-pass and an output volume of +-32 dB, with its own
240 x 400 panel (X11). The VST 2 plug-in is installed in /usr/lib/vst, where
hosts such as Ardour, Qtractor, MusE, Reaper and Bitwig look for it; the same
effect as an LV2 plug-in in /usr/lib/lv2, as a CLAP plug-in in
/usr/lib/clap and as a VST3 plug-in in /usr/lib/vst3, each with the panel.
.
kv23 is a command-line host for the plug-in: it prints its identity,
renders audio files through it, opens its panel and validates it.")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_PROVIDES vst-plugin)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL release)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
