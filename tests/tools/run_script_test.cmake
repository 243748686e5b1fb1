# Runs scripts/run.sh of this checkout on the build under test; what the
# script builds is built already.
add_dependencies(${target} korvohub korvocore modemsim modemsetup faxdemo prnstream)
target_compile_definitions(${target} PRIVATE KORVO_RUN_SCRIPT="${PROJECT_SOURCE_DIR}/scripts/run.sh")
