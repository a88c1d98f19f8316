# Shared settings for every Kivo target.

function(kivo_target_defaults target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow
        -Wnon-virtual-dtor -Wold-style-cast -Wcast-align -Woverloaded-virtual
        -Wconversion -Wno-sign-conversion)
    if(KIVO_WARNINGS_AS_ERRORS)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
    target_compile_definitions(${target} PRIVATE QT_NO_CAST_FROM_ASCII QT_NO_NARROWING_CONVERSIONS_IN_CONNECT)
endfunction()

# kivo_add_library(NAME folder-relative sources... [DEPENDS public libs] [PRIVATE_DEPENDS libs])
function(kivo_add_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS;PRIVATE_DEPENDS" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES})
    target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/..)
    target_link_libraries(${name} PUBLIC ${ARG_DEPENDS} PRIVATE ${ARG_PRIVATE_DEPENDS})
    kivo_target_defaults(${name})
endfunction()

# With Ninja, AUTOMOC does not notice a source file added to a target after its first run, so a
# new test's "Foo.moc" is never made. Depending on the sources makes it run again.
function(kivo_rerun_moc_on_new_sources target)
    set_property(TARGET ${target} APPEND PROPERTY AUTOGEN_TARGET_DEPENDS ${ARGN})
endfunction()

# kivo_add_test_suite(TARGET [LINKS ...] [LABELS ...] [ENVIRONMENT ...] [FIXTURES ...]
#                     [EXCLUDE regex])
# One executable per layer, built from every *.cpp in the calling folder and its subfolders
# except those under helpers/.
# Each file FooTest.cpp holds the QtTest class FooTest; CTest runs each class on its own so a
# failure names the class.
function(kivo_add_test_suite target)
    cmake_parse_arguments(ARG "" "EXCLUDE" "LINKS;LABELS;ENVIRONMENT;FIXTURES" ${ARGN})
    file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
    file(GLOB_RECURSE headers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
    # Programs that tests start as child processes live in helpers/ folders with mains of their own.
    list(FILTER sources EXCLUDE REGEX "/helpers/|Child\\.cpp$")
    list(FILTER headers EXCLUDE REGEX "/helpers/")
    # Folders with a suite of their own (EXCLUDE, a regex on the path) are left out.
    if(ARG_EXCLUDE)
        list(FILTER sources EXCLUDE REGEX "${ARG_EXCLUDE}")
        list(FILTER headers EXCLUDE REGEX "${ARG_EXCLUDE}")
    endif()
    add_executable(${target} ${sources} ${headers} ${PROJECT_SOURCE_DIR}/tests/support/TestMain.cpp)
    target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support
        ${CMAKE_CURRENT_SOURCE_DIR})
    target_link_libraries(${target} PRIVATE Qt6::Test ${ARG_LINKS})
    kivo_target_defaults(${target})
    kivo_rerun_moc_on_new_sources(${target} ${sources})
    foreach(source IN LISTS sources)
        get_filename_component(class ${source} NAME_WE)
        if(NOT class MATCHES "Test$")
            continue()
        endif()
        add_test(NAME ${target}.${class} COMMAND ${target} ${class})
        set_tests_properties(${target}.${class} PROPERTIES
            LABELS "${ARG_LABELS}"
            ENVIRONMENT "QT_QPA_PLATFORM=offscreen;${ARG_ENVIRONMENT}")
        if(ARG_FIXTURES)
            set_tests_properties(${target}.${class} PROPERTIES FIXTURES_REQUIRED "${ARG_FIXTURES}")
        endif()
    endforeach()
endfunction()

# kivo_add_sound_server_tests(TARGET LABELS labels SOURCES files...)
# Registers each test class of TARGET (a file FooTest.cpp among SOURCES) once per test sound
# server, with the server's fixture (started by the capture suite) and its lock: tests of one
# server run one at a time, the two servers' runs may run in parallel.
function(kivo_add_sound_server_tests target)
    cmake_parse_arguments(ARG "" "" "LABELS;SOURCES" ${ARGN})
    foreach(server pulseaudio pipewire)
        set(folder ${CMAKE_BINARY_DIR}/sound/${server})
        foreach(source IN LISTS ARG_SOURCES)
            get_filename_component(class ${source} NAME_WE)
            if(NOT class MATCHES "Test$")
                continue()
            endif()
            set(name ${target}.${server}.${class})
            add_test(NAME ${name} COMMAND ${target} ${class})
            set_tests_properties(${name} PROPERTIES
                LABELS "${ARG_LABELS}"
                FIXTURES_REQUIRED sound_server_${server}
                RESOURCE_LOCK sound_server_${server}
                TIMEOUT 180
                ENVIRONMENT "QT_QPA_PLATFORM=offscreen;KIVO_TEST_SOUND_SERVER=${server};PULSE_SERVER=unix:${folder}/run/pulse/native;XDG_RUNTIME_DIR=${folder}/run;HOME=${folder}/home")
        endforeach()
    endforeach()
endfunction()
