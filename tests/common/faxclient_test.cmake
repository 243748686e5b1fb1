# Local book results carry the message-table texts.
target_link_libraries(${target} PRIVATE korvo_messages)
