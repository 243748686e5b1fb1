// libkorvocore.so carries the shared static library whole; its C exports
// (the Kv... functions) come from there.
