# The program test runs the built modemsim.
add_dependencies(${target} modemsim)
