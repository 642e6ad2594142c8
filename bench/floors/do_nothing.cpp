// The floor of `tplforge-cli info`: a program that starts and ends.
int main() { return 0; }
