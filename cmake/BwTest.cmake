# bw_add_qtest(NAME SOURCES a.cpp b.cpp LIBS x y [LABELS l] [TIMEOUT s] [ENV K=V ...])
# One QtTest executable registered with CTest, run on the offscreen platform
# (on Windows under Wine, through tools/windows/wine-qtest.sh).
function(bw_add_qtest name)
    cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS;ENV" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE Qt::Test ${T_LIBS})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
    bw_add_qtest_run(${name} ${name} TIMEOUT "${T_TIMEOUT}" LABELS "${T_LABELS}" ENV ${T_ENV})
endfunction()

# bw_add_qtest_run(NAME TARGET [LABELS l] [TIMEOUT s] [ENV K=V ...])
# A CTest run of the QtTest program TARGET under NAME, e.g. again with other settings.
function(bw_add_qtest_run name target)
    cmake_parse_arguments(T "" "TIMEOUT" "LABELS;ENV" ${ARGN})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 120)
    endif()
    if(WIN32)
        add_test(NAME ${name}
                 COMMAND bash ${PROJECT_SOURCE_DIR}/tools/windows/wine-qtest.sh
                         $<TARGET_FILE:${target}> ${PROJECT_BINARY_DIR}/test-results/${name})
        set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED bw_wineprefix)
        list(APPEND T_ENV ${BW_WINE_ENV})
    else()
        add_test(NAME ${name} COMMAND ${target})
    endif()
    set_tests_properties(${name} PROPERTIES
        TIMEOUT ${T_TIMEOUT}
        LABELS "${T_LABELS}"
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;${T_ENV}")
endfunction()

if(WIN32)
    # The Wine prefix the tests share, made once per build folder.
    add_test(NAME wine_prefix
             COMMAND bash ${PROJECT_SOURCE_DIR}/tools/windows/wine-prefix.sh ${BW_WINEPREFIX}
                     --keep-server)
    add_test(NAME wine_server_stop
             COMMAND bash ${PROJECT_SOURCE_DIR}/tools/windows/wine-prefix.sh ${BW_WINEPREFIX}
                     --stop-server)
    set_tests_properties(wine_prefix PROPERTIES
        FIXTURES_SETUP bw_wineprefix TIMEOUT 180 ENVIRONMENT "${BW_WINE_ENV}")
    set_tests_properties(wine_server_stop PROPERTIES
        FIXTURES_CLEANUP bw_wineprefix TIMEOUT 60 ENVIRONMENT "${BW_WINE_ENV}")
endif()
