// Stand-ins for services that this build does not contain yet. Each one says in the general log
// that it is not available and never reports success; the real implementations replace it in the
// module's link. Every service of the module is built now, so none is left.
