// Entry of the link checks: the library under check comes in whole.
int main() { return 0; }
