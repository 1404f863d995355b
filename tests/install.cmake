# The installation as a user meets it: `cmake --install` into a fresh
# prefix puts brenvo, brenvo-cli, the desktop entry and the icon in place,
# the installed programs run (the console program on the user's data
# directory), and `cpack -G DEB` makes a package that holds the same files
# below /usr (not for a sanitizer build, which is no build to ship).
#
#   cmake -DBUILD=<build dir> -DSOURCE=<source dir> -DGUI=ON|OFF -DPACKAGE=ON|OFF -P install.cmake

set(work ${BUILD}/install-test)
file(REMOVE_RECURSE ${work})
set(prefix ${work}/prefix)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${ARGN}: ${rc}\n${out}\n${err}")
  endif()
  set(OUT "${out}" PARENT_SCOPE)
endfunction()

function(expect_in text what)
  string(FIND "${text}" "${what}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "\"${what}\" fehlt in:\n${text}")
  endif()
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD} --prefix ${prefix})

set(files bin/brenvo-cli)
if(GUI)
  list(APPEND files bin/brenvo bin/brenvo-drucken share/applications/brenvo.desktop
       share/icons/hicolor/16x16/apps/brenvo.png share/icons/hicolor/48x48/apps/brenvo.png
       share/icons/hicolor/256x256/apps/brenvo.png)
endif()
foreach(f IN LISTS files)
  if(NOT EXISTS ${prefix}/${f})
    message(FATAL_ERROR "nicht installiert: ${f}")
  endif()
endforeach()

# The console program finds the user's data directory (here a copy of the demo).
file(COPY ${SOURCE}/demo/ DESTINATION ${work}/data/brenvo)
run(${CMAKE_COMMAND} -E env XDG_DATA_HOME=${work}/data ${prefix}/bin/brenvo-cli kt-info 103110016)
expect_in("${OUT}" "109910014")

if(GUI)
  file(READ ${prefix}/share/applications/brenvo.desktop desktop)
  foreach(line "Exec=brenvo" "Icon=brenvo" "Type=Application" "Name=Brenvo")
    expect_in("${desktop}" "\n${line}\n")
  endforeach()
  run(${prefix}/bin/brenvo --help)
  expect_in("${OUT}" "Aufruf: brenvo")
endif()

if(PACKAGE)
  run(cpack --config ${BUILD}/CPackConfig.cmake -G DEB -B ${work}/package)
  file(GLOB deb ${work}/package/brenvo_*.deb)
  if(NOT deb)
    message(FATAL_ERROR "cpack hat kein Paket geschrieben")
  endif()
  run(dpkg-deb --contents ${deb})
  foreach(f IN LISTS files)
    expect_in("${OUT}" " ./usr/${f}\n")
  endforeach()
  run(dpkg-deb --field ${deb} Package Depends)
  expect_in("${OUT}" "Package: brenvo")
  if(GUI)
    expect_in("${OUT}" "libqt6widgets6")
  endif()
endif()

file(REMOVE_RECURSE ${work})
