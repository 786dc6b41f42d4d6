cmake_minimum_required(VERSION 3.25)
# Fails when a source file includes a header of a layer it may not use, or
# makes POSIX calls outside the places that own them. Run by the build
# (cmake -DSOURCES_DIR=... -DSTAMP=... -P CheckLayers.cmake) before any
# layer compiles, so a reaching include fails the build, not a review.

# What each layer may include besides itself. The core's layers first.
set(allowed_Model "")
set(allowed_Files Model)
set(allowed_Texts Model Files)
set(allowed_Images Model Files Texts)
set(allowed_Content Model Files Texts Images)
set(allowed_Intake Model Files)
set(allowed_Store Model Files Texts Images Content Intake StoreInternal)
set(allowed_Startup Model Files Texts Images Content)

# The application's layers, one per folder of Sources/Velmarin and named
# after their libraries, bottom to top. Each may use the whole core but the
# store's own internals, and the application's layers below it; main.cpp
# stands above them all.
set(app_layers VelmarinCommon VelmarinPlatform VelmarinPresentation VelmarinIntake VelmarinShelf
  VelmarinActions VelmarinWindows VelmarinShell VelmarinMain)
set(core_for_app Model Files Texts Images Content Intake Store Startup)
set(below "")
foreach(app_layer ${app_layers})
  set(allowed_${app_layer} ${core_for_app} ${below})
  list(APPEND below ${app_layer})
endforeach()

# The only places outside the file layer and the application's platform
# layer that may talk to the kernel directly, each for a reason the file
# layer cannot serve.
set(posix_allowed
  # decodes from a descriptor it opened itself without following links
  TolvexCore/Images/ImageSource.cpp
  # one pass over a directory descriptor per folder of "Materials"
  TolvexCore/Store/Internal/GuardedPathCache.cpp
  # publishes the starter workspace as one private folder with one exclusive rename
  TolvexCore/Startup/StarterWorkspaceBootstrap.cpp
  # reads each format's header from the descriptor the decoder will use
  TolvexCore/Images/ImageStructure.cpp
)

function(layer_of path out)
  if(path MATCHES "^Velmarin/([A-Za-z]+)/")
    set(${out} Velmarin${CMAKE_MATCH_1} PARENT_SCOPE)
  elseif(path MATCHES "^Velmarin/")
    set(${out} VelmarinMain PARENT_SCOPE)
  elseif(path MATCHES "^TolvexCore/Store/(Internal|Cleanup)/")
    set(${out} StoreInternal PARENT_SCOPE)
  elseif(path MATCHES "^TolvexCore/([A-Za-z]+)/")
    set(${out} ${CMAKE_MATCH_1} PARENT_SCOPE)
  else()
    set(${out} "" PARENT_SCOPE)
  endif()
endfunction()

file(GLOB_RECURSE files RELATIVE ${SOURCES_DIR} ${SOURCES_DIR}/*.h ${SOURCES_DIR}/*.cpp)
set(problems "")
foreach(file ${files})
  layer_of(${file} from)
  if(from STREQUAL "")
    continue()
  endif()
  set(layer ${from})
  if(from STREQUAL "StoreInternal")
    set(layer Store)
  endif()
  if(layer MATCHES "^Velmarin" AND NOT layer IN_LIST app_layers)
    string(APPEND problems "  ${file}: its folder is no layer of the application (add it to app_layers)\n")
    continue()
  endif()
  file(STRINGS ${SOURCES_DIR}/${file} includes REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<]")
  foreach(line ${includes})
    if(line MATCHES "#[ \t]*include[ \t]*\"((TolvexCore|Velmarin)/[^\"]+)\"")
      layer_of(${CMAKE_MATCH_1} to)
      set(target_layer ${to})
      if(to STREQUAL "StoreInternal")
        set(target_layer Store)
      endif()
      if(NOT target_layer STREQUAL layer AND NOT to IN_LIST allowed_${layer})
        string(APPEND problems "  ${file}: ${layer} may not include ${CMAKE_MATCH_1}\n")
      elseif(to STREQUAL "StoreInternal" AND NOT layer STREQUAL "Store")
        string(APPEND problems "  ${file}: only the store includes ${CMAKE_MATCH_1}\n")
      endif()
    elseif(line MATCHES "#[ \t]*include[ \t]*<(unistd\\.h|fcntl\\.h|dirent\\.h|sys/[a-z]+\\.h)>")
      if(NOT layer STREQUAL "Files" AND NOT layer STREQUAL "VelmarinPlatform" AND NOT file IN_LIST posix_allowed)
        string(APPEND problems "  ${file}: POSIX header <${CMAKE_MATCH_1}> outside the file and platform layers\n")
      endif()
    endif()
  endforeach()
endforeach()

if(problems)
  message(FATAL_ERROR "Layering violations:\n${problems}")
endif()
file(TOUCH ${STAMP})
