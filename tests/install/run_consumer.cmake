# Installs the built library into a fresh prefix, then configures, builds and runs an outside
# project against it, once through the CMake package and once through pkg-config.
# -DBUILD_DIR: the library's build tree; -DWORK_DIR: scratch folder; -DCONSUMER_DIR: the project;
# -DCXX_FLAGS: flags the library needs in its users' compile and link lines (sanitizers).
function(run)
  execute_process(COMMAND ${ARGV} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    list(JOIN ARGV " " cmd)
    message(FATAL_ERROR "failed (${rc}): ${cmd}")
  endif()
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
run(${CMAKE_COMMAND} --build ${BUILD_DIR} --target vcflexalign flexalign)
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
# The command runs from the prefix, on its own.
run(${prefix}/bin/flexalign --help)
# Nothing of the source or build tree may be reached from the installed package.
file(GLOB_RECURSE installed ${prefix}/*.h ${prefix}/*.cmake ${prefix}/*.pc)
get_filename_component(source_dir ${CONSUMER_DIR}/../../.. ABSOLUTE)
foreach(f IN LISTS installed)
  file(STRINGS ${f} hits REGEX "${source_dir}|${BUILD_DIR}")
  if(hits)
    message(FATAL_ERROR "${f} names the source or build tree: ${hits}")
  endif()
endforeach()

run(${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR}/cmake -DCMAKE_BUILD_TYPE=Release
    -DCMAKE_PREFIX_PATH=${prefix} "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}"
    "-DCMAKE_EXE_LINKER_FLAGS=${CXX_FLAGS}")
run(${CMAKE_COMMAND} --build ${WORK_DIR}/cmake -j2)
run(${WORK_DIR}/cmake/consumer)

file(GLOB_RECURSE pc_file ${prefix}/*/vcflexalign.pc)
get_filename_component(pc_dir ${pc_file} DIRECTORY)
set(ENV{PKG_CONFIG_PATH} ${pc_dir})
execute_process(COMMAND pkg-config --cflags --libs vcflexalign OUTPUT_VARIABLE flags
                RESULT_VARIABLE rc OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "pkg-config does not know the installed vcflexalign.pc")
endif()
separate_arguments(flags UNIX_COMMAND "${CXX_FLAGS} ${flags}")
run(c++ -O2 ${CONSUMER_DIR}/main.cpp -o ${WORK_DIR}/consumer_pc ${flags})
run(${WORK_DIR}/consumer_pc)
