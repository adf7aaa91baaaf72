include(${CMAKE_CURRENT_LIST_DIR}/ZartLayerTable.cmake)

# zart_layer(NAME <target> [LAYER <layer>] [QT <components>] [DEPS <targets>])
# A library made of the .cpp/.h/.ui files of the calling folder. With LAYER it
# links zart_<base> for each layer the table (ZartLayerTable.cmake) says the
# layer builds on, besides DEPS.
function(zart_layer)
  cmake_parse_arguments(L "" "NAME;LAYER" "DEPS;QT;EXCLUDE" ${ARGN})
  if(L_LAYER)
    if(NOT L_LAYER IN_LIST ZART_LAYERS)
      message(FATAL_ERROR "${L_LAYER} is no layer of cmake/ZartLayerTable.cmake")
    endif()
    foreach(_base IN LISTS ZART_LAYER_BASES_${L_LAYER})
      list(APPEND L_DEPS zart_${_base})
    endforeach()
  endif()
  file(GLOB _src CONFIGURE_DEPENDS
       ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h
       ${CMAKE_CURRENT_SOURCE_DIR}/*.ui)
  foreach(_ex IN LISTS L_EXCLUDE)
    list(FILTER _src EXCLUDE REGEX "/${_ex}$")
  endforeach()
  set(_has_cpp FALSE)
  foreach(_f IN LISTS _src)
    if(_f MATCHES "\\.cpp$")
      set(_has_cpp TRUE)
    endif()
  endforeach()
  if(_has_cpp)
    add_library(${L_NAME} STATIC ${_src})
    target_include_directories(${L_NAME} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${L_NAME} PUBLIC ${L_QT} ${L_DEPS})
  else()
    add_library(${L_NAME} INTERFACE)
    target_include_directories(${L_NAME} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${L_NAME} INTERFACE ${L_QT} ${L_DEPS})
  endif()
endfunction()

# zart_tests(LIBS <targets>): one Qt Test executable and CTest test per tst_*.cpp
# of the calling folder, run headless.
function(zart_tests)
  cmake_parse_arguments(T "" "" "LIBS" ${ARGN})
  file(GLOB _tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tst_*.cpp)
  foreach(_t IN LISTS _tests)
    get_filename_component(_name ${_t} NAME_WE)
    add_executable(${_name} ${_t})
    target_link_libraries(${_name} PRIVATE Qt6::Test zart_testcommon ${T_LIBS})
    set_target_properties(${_name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    add_test(NAME ${_name} COMMAND ${_name})
    set_tests_properties(${_name} PROPERTIES
      ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LC_ALL=C.UTF-8"
      TIMEOUT 300)
  endforeach()
endfunction()
