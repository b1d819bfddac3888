# Type stubs for the extension module; filled in as functions are registered.
