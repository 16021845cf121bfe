// Built only for the tests' precompiled header (MarlTesting.cmake).
int main() { return 0; }
