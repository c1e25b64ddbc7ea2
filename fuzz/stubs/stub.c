/* The smallest image the packer could be handed: no runtime, one entry point, so the seeds stay a
   few kilobytes and the fuzzer spends its time in the headers and the resource tree. */
void entry(void) {}
