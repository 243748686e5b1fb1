# The Send Fax models, with the message table for status texts.
target_link_libraries(${target} PRIVATE korvo_sendfax korvo_messages)
