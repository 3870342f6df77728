
void main()
{
    px();
}
