# Copies every example template from FROM into TO that TO does not have yet.
file(MAKE_DIRECTORY ${TO})
file(GLOB examples ${FROM}/*.ept)
foreach(example IN LISTS examples)
  get_filename_component(name ${example} NAME)
  if(NOT EXISTS ${TO}/${name})
    file(COPY ${example} DESTINATION ${TO})
  endif()
endforeach()
