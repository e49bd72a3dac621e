# One static library per folder, kestrel_<folder>. Its headers are seen as
# "<folder>/Name.h" only by the folder itself and by whatever links the
# library, so an include against the direction of the libraries does not
# compile: each library's include root holds nothing but a link to its own
# folder.
#
#   kestrel_library(channel ChannelSocket.cpp ...)        plain C++
#   kestrel_library(ui QT MainDlg.cpp MainDlg.h ...)      with Qt's moc
#
# KESTREL_LIBRARY_OPTIONS, when set, are compile options for every library
# (the fuzz build instruments the libraries, not the fuzzers, with them).
function(kestrel_library folder)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "QT" "" "")
  set(target kestrel_${folder})
  add_library(${target} STATIC ${ARG_UNPARSED_ARGUMENTS})
  set(root ${CMAKE_BINARY_DIR}/include/${folder})
  if(NOT EXISTS ${root}/${folder})
    file(MAKE_DIRECTORY ${root})
    file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${root}/${folder} SYMBOLIC)
  endif()
  target_include_directories(${target} PUBLIC ${root})
  if(NOT ARG_QT)
    set_target_properties(${target} PROPERTIES AUTOMOC OFF AUTOUIC OFF AUTORCC OFF)
  endif()
  if(KESTREL_LIBRARY_OPTIONS)
    target_compile_options(${target} PRIVATE ${KESTREL_LIBRARY_OPTIONS})
  endif()
endfunction()
