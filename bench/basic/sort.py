# Insertion sort of pseudo-random numbers in an array.
n = 12000
a = [0] * n
seed = 12345
for i in range(0, n):
    seed = (seed * 1103515245 + 12345) % 2147483648
    a[i] = seed % 100000
for i in range(1, n):
    v = a[i]
    j = i - 1
    while j >= 0:
        if a[j] <= v:
            break
        a[j + 1] = a[j]
        j = j - 1
    a[j + 1] = v
check = 0
for i in range(0, n, 100):
    check = check + a[i]
print(str(a[0]) + " " + str(a[n - 1]) + " " + str(check))
