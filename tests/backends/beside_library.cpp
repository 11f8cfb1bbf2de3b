// A library that a backend needs and that lives only beside it in Base.
extern "C" int kelmar_test_beside_value() { return 42; }
