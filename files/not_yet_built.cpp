// Entry points of file topics still being written: each does the least until its topic is built.
