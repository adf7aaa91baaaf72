# The layers of src/, one folder each, and the layers each one builds on
# directly. A layer may include the files of the layers it builds on, directly
# or through them, and of no other; tests/layers (CTest "layers") checks every
# #include "<folder>/..." of src/ against this table, and zart_layer() links
# each library to the libraries of the layers named here.
set(ZART_LAYERS common codec serial modbus sensor flash picture record bus report sim demo app cli)
set(ZART_LAYER_BASES_common "")
set(ZART_LAYER_BASES_codec common)
set(ZART_LAYER_BASES_serial codec)
set(ZART_LAYER_BASES_modbus serial)
set(ZART_LAYER_BASES_sensor modbus)
set(ZART_LAYER_BASES_flash sensor)
set(ZART_LAYER_BASES_picture flash)
set(ZART_LAYER_BASES_record flash)
set(ZART_LAYER_BASES_bus flash record)
set(ZART_LAYER_BASES_report record picture)
set(ZART_LAYER_BASES_sim codec)
set(ZART_LAYER_BASES_demo sim serial)
set(ZART_LAYER_BASES_app report bus demo)
set(ZART_LAYER_BASES_cli report bus demo)

# out: the layers that layer builds on, directly or not.
function(zart_layer_closure layer out)
  set(_done "")
  set(_todo ${ZART_LAYER_BASES_${layer}})
  while(_todo)
    list(POP_FRONT _todo _l)
    if(NOT _l IN_LIST _done)
      list(APPEND _done ${_l})
      list(APPEND _todo ${ZART_LAYER_BASES_${_l}})
    endif()
  endwhile()
  set(${out} ${_done} PARENT_SCOPE)
endfunction()
