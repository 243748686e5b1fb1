# Runs the scripts of this checkout; run.sh on the build under test, whose
# programs are built already.
add_dependencies(${target} korvohub korvocore modemsim modemsetup faxdemo prnstream)
target_compile_definitions(${target} PRIVATE KORVO_SCRIPTS_DIR="${PROJECT_SOURCE_DIR}/scripts")
