# Fails when a source file includes a header of a folder above its own.
# Each library may include itself and the libraries it links, so the folders
# stand in ranks: a file may include a header of a lower rank, or of its own
# folder; two different folders of one rank (sibling libraries) may not
# include each other. The deepest listed folder that holds a file decides.
# The folders of one library (the window program in app/) are its parts:
# a file of the library lies in one of its listed subfolders, so that the
# folders keep showing the parts, and the parts stand in ranks of their own
# (the window at the bottom, its start-up at the top).
#   cmake -DROOT=<source folder> -P cmake/CheckLayers.cmake
if(NOT ROOT)
  message(FATAL_ERROR "usage: cmake -DROOT=<source folder> -P CheckLayers.cmake")
endif()

# folder=rank
set(_ranks
  platform=0
  numerics=1
  data=2
  lamm/coefficients=3
  lamm=4
  fit=5
  distributions=6
  distributions/analysis=7
  models=7
  models/buffer=7
  models/equilibrium_curves=7
  models/reacting=7
  models/nonideal/mean_field=7
  equilibrium=7
  plot=8
  automation=9
  platform/qt=10
  app/window=11
  app/dialogs=12
  app/screens=12
  app/plot_input=12
  app/commands/help=12
  app/commands/plot=12
  app/commands/distribution=13
  app/commands/run_fit=13
  app/commands/model=14
  app/commands/statistics=14
  app/commands/display=14
  app/commands/options=15
  app/commands/generate=15
  app/commands/data=16
  app/commands/equilibrium=17
  app/plot_events=18
  app/wiring=19
  app/startup=20
  app=21)

# Libraries whose listed subfolders are one library, and the files that may
# stand directly in such a folder.
set(_one_library app)
set(_library_entries app/main.cpp)

set(_folders "")
foreach(_entry IN LISTS _ranks)
  string(REPLACE "=" ";" _pair "${_entry}")
  list(GET _pair 0 _folder)
  list(GET _pair 1 _rank)
  set(_rank_of_${_folder} ${_rank})
  list(APPEND _folders ${_folder})
endforeach()

# The deepest listed folder that a path lies in, or "" for none.
function(_owner path out)
  set(_best "")
  string(LENGTH "" _best_length)
  foreach(_folder IN LISTS _folders)
    string(FIND "${path}" "${_folder}/" _at)
    if(_at EQUAL 0)
      string(LENGTH "${_folder}" _length)
      if(_length GREATER _best_length)
        set(_best ${_folder})
        set(_best_length ${_length})
      endif()
    endif()
  endforeach()
  set(${out} "${_best}" PARENT_SCOPE)
endfunction()

set(_globs "")
foreach(_folder platform numerics data lamm fit distributions models equilibrium plot automation app)
  list(APPEND _globs ${ROOT}/${_folder}/*.h ${ROOT}/${_folder}/*.cpp)
endforeach()
file(GLOB_RECURSE _files RELATIVE ${ROOT} ${_globs})

set(_violations 0)
foreach(_file IN LISTS _files)
  _owner("${_file}" _from)
  if(_from STREQUAL "")
    message(SEND_ERROR "${_file}: its folder has no rank in cmake/CheckLayers.cmake")
    math(EXPR _violations "${_violations} + 1")
    continue()
  endif()
  list(FIND _one_library "${_from}" _is_library)
  list(FIND _library_entries "${_file}" _is_entry)
  if(_is_library GREATER -1 AND _is_entry EQUAL -1)
    message(SEND_ERROR "${_file}: belongs in one of the subfolders of ${_from}/ listed in cmake/CheckLayers.cmake")
    math(EXPR _violations "${_violations} + 1")
  endif()
  file(STRINGS ${ROOT}/${_file} _lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  foreach(_line IN LISTS _lines)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*" "\\1" _header "${_line}")
    _owner("${_header}" _to)
    if(_to STREQUAL "" OR _to STREQUAL _from)
      continue()
    endif()
    if(_rank_of_${_to} GREATER_EQUAL _rank_of_${_from})
      message("${_file}: includes ${_header}, which is not beneath ${_from}/")
      math(EXPR _violations "${_violations} + 1")
    endif()
  endforeach()
endforeach()

list(LENGTH _files _count)
if(_violations GREATER 0)
  message(FATAL_ERROR "${_violations} includes reach up, in ${_count} files")
endif()
message("no include reaches up, in ${_count} files")
