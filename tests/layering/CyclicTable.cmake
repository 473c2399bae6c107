# A layer table whose "sees" relation goes round (a -> b -> c -> a): the
# cycle check must stop the configuration and name the cycle.
cmake_minimum_required(VERSION 3.25)
include(${LAYERS})
set(PAGEWICK_LAYER_TABLE "low|pagewick_low||low/Low.h" "a|pagewick_a|low b|a/A.h" "b|pagewick_b|c|b/B.h"
                         "c|pagewick_c|a low|c/C.h")
pagewick_check_layer_cycles()
message(STATUS "no cycle found")
