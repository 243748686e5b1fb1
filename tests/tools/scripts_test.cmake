# Runs the scripts of this checkout; run.sh on the build under test, whose
# programs are built already.
add_dependencies(${target} korvohub korvocore modemsim modemsetup faxdemo prnstream)
target_compile_definitions(${target} PRIVATE KORVO_SCRIPTS_DIR="${PROJECT_SOURCE_DIR}/scripts")
# run.sh builds in the build under test and starts a server with its
# simulator: beside a full parallel suite it has been seen to stall, so these
# run alone.
set(korvo_test_run_serial TRUE)
